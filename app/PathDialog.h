#pragma once

#include <QDialog>

#include "PathChoice.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace fbx::ui {

struct AppContext;

// The small file chooser of the Select menu: the outside editor's path, the
// file to save the configuration to, or the file to restore it from. Drive,
// directory and file lists start at the process's current directory; "Sure"
// applies the mode and closes, or complains and stays open. Closing it any
// other way (Cancel, Esc) applies nothing. The drive list holds the filesystem
// roots: "/" and every mounted volume. Enter presses the focused button; in
// the directory list it opens the highlighted directory, and typing a name
// jumps to it.
class PathDialog : public QDialog {
    Q_OBJECT
public:
    PathDialog(AppContext& app, PathDialogMode mode, QWidget* parent = nullptr);

    const PathChoice& choice() const { return m_choice; }
    // The directory the lists show.
    const QString& directory() const { return m_dir; }

signals:
    // A restored configuration is in force and ProTool has run: the status
    // line is due.
    void proToolRan();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fillDrives();
    // Shows dir in the directory and file lists; false, after telling the
    // operator, when it cannot be read.
    bool showDirectory(const QString& dir);
    bool openDirectory(const QString& dir);
    void chooseDrive(int index);
    void selectDriveOf(const QString& dir);
    void fileClicked();
    void sure();
    bool saveConfiguration(const QString& path);
    void restoreConfiguration(const QString& path);
    void showChoice();

    AppContext& m_app;
    PathChoice m_choice;
    QString m_dir;
    QComboBox* m_drives = nullptr;
    QListWidget* m_dirs = nullptr;
    QListWidget* m_files = nullptr;
    QLabel* m_prompt = nullptr;
    QLabel* m_pathLabel = nullptr;
    QLineEdit* m_pathField = nullptr;
};

}  // namespace fbx::ui
