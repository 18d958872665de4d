#pragma once

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "Clock.h"
#include "ScreenSaver.h"
#include "TransferView.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace fbx {
class SerialPort;
class TransferEngine;
class SendEngine;
}  // namespace fbx

namespace fbx::ui {

struct AppContext;
class EngineHost;
class ProgramBox;

// The modal window in which one transfer runs (Form3): the program's text
// box, the statistics, the status line and the three buttons. It is the
// engines' view; its handlers only pass the operator's presses on.
class TransferWindow : public QDialog, public TransferView {
    Q_OBJECT
public:
    TransferWindow(AppContext& app, QWidget* parent = nullptr);
    ~TransferWindow() override;

    // Opens the port and lays the window out for a send of fileText (read
    // from path) or a receive into path. False when the window closed at once
    // (the port could not be opened); the operator has been told.
    bool openSend(std::string fileText, const QString& path);
    bool openReceive(const QString& path);

    TransferEngine* engine() const { return m_engine.get(); }
    ProgramBox* textBox() const { return m_text; }

    // TransferView
    void setText(Element element, const std::string& text) override;
    void setVisible(Element element, bool visible) override;
    void setEnabled(Element element, bool enabled) override;
    void setProgress(std::int64_t maximum, std::int64_t value) override;
    void loadText(const std::string& text) override;
    void highlightHeldLine(std::int64_t position) override;
    void showReceived(const std::string& tail) override;
    Answer ask(const Message& message) override;
    std::string chooseFile(const std::string& title, const std::string& filter) override;
    void showLineState(LineState state, std::int64_t seconds) override;
    void transferActive(bool active) override;
    void closeWindow() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void build();
    bool openPort();
    void startHost();
    QWidget* widgetFor(Element element) const;
    void escapePressed();
    void placeBeforeShowing();

    AppContext& m_app;
    SteadyClock m_clock;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<TransferEngine> m_engine;
    SendEngine* m_send = nullptr;
    std::unique_ptr<EngineHost> m_host;
    ScreenSaverInhibitor m_screenSaver;
    bool m_closing = false;

    QPushButton* m_command1 = nullptr;  // start
    QPushButton* m_command2 = nullptr;  // quit
    QPushButton* m_command3 = nullptr;  // re-send
    QLabel* m_label3 = nullptr;         // status line
    QLabel* m_label4 = nullptr;         // key hint
    std::array<QLabel*, 6> m_label5{};  // statistics captions
    QLabel* m_label2 = nullptr;
    QLabel* m_label6 = nullptr;
    QLabel* m_label7 = nullptr;
    QLabel* m_label8 = nullptr;
    QLabel* m_label9 = nullptr;
    QLabel* m_label10 = nullptr;
    ProgramBox* m_text = nullptr;     // RichTextBox1
    QLabel* m_picture = nullptr;      // Picture1: the received text's tail
    QProgressBar* m_progress = nullptr;
    QLabel* m_lineLight = nullptr;  // the line indicator's light
    QLabel* m_lineState = nullptr;  // and its text
};

}  // namespace fbx::ui
