#pragma once

#include <QDir>
#include <QMainWindow>
#include <QPointer>
#include <cstdint>
#include <functional>

#include "AppContext.h"
#include "PathChoice.h"

class QLabel;
class QTimer;

namespace fbx::ui {

// What the menu entries that belong to other windows run. Each is optional;
// the program wires in the transfer flows and the editor window.
struct MainCommands {
    std::function<void(QWidget* mainWindow, AppContext&)> send;     // Work > Send (F1)
    std::function<void(QWidget* mainWindow, AppContext&)> receive;  // Work > Receive (F2)
    // A program named already (a recent one, or one dropped on the window)
    // offered for sending.
    std::function<void(QWidget* mainWindow, AppContext&, const QString& path)> sendFile;
    // Setting > Editor: makes and shows the built-in editor window (modeless),
    // which sets editorOpen back to 0 when it goes.
    std::function<QWidget*(AppContext&)> openEditor;
};

// The first window: banner title, animated picture, the status line of the
// communication settings and the menu bar that reaches every other window.
// Constructing it runs the start-up (Startup.h) in startDir; it owns the
// process-wide AppContext. Closing it, or Ctrl+Q in any window of the program
// but a modal one, ends the program at once, unless the editor window holds
// unsaved edits and the operator keeps them.
//
// Work > Recent programs lists the programs sent last; a program file
// dropped on the window is offered for sending as they are.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(MainCommands commands = {}, const QString& startDir = QDir::currentPath(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    AppContext& app() { return m_app; }

    // 29 asterisks, 36 blanks, "Fero brixlan", 44 blanks, 41 asterisks.
    static QString bannerTitle();

    // Shows statusLineText of the current settings (after ProTool has run).
    void showStatusLine();
    // One step of the animation: the next of brix1.bmp .. brix6.bmp; a
    // picture that cannot be loaded is skipped and the previous one stays.
    void showNextPicture();
    std::int16_t frameNumber() const { return m_frame; }

    QLabel* statusLine() const { return m_status; }
    QLabel* picture() const { return m_picture; }
    QTimer* animationTimer() const { return m_timer; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void fillRecentPrograms(QMenu* menu);
    void layOut();
    void startOutsideEditor();
    void openBuiltInEditor();
    void openSettingsDialog();
    void openProcessingDialog();
    void openPathDialog(PathDialogMode mode);
    void openAboutWindow();
    void openInstructionWindow();
    // False when the editor window kept its unsaved text and the program.
    bool quit();

    AppContext m_app;
    MainCommands m_commands;
    QLabel* m_status = nullptr;
    QLabel* m_picture = nullptr;
    QTimer* m_timer = nullptr;
    std::int16_t m_frame = 0;
    QPointer<QWidget> m_editor;
};

}  // namespace fbx::ui
