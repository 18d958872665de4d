#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "Settings.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace fbx::ui {

struct AppContext;

// "Protocol": the communication settings as drop-down lists, the check box
// "Sending Edit " (applied on click) and "Confirm", which copies the lists
// into the settings, offers to save them and runs ProTool. Closing it any
// other way applies nothing of the lists.
//
// A value that is not among a list's entries (a hand-edited file) is shown as
// an extra entry at the end of that list, so that Confirm keeps it.
//
// The port list holds "1", "2", then every further port that the port map
// of programDir names, in their order. Under it stands the device the chosen
// port maps to (the port map, or FEROBRIXLAN_PORT<N>), so that the operator
// sees which line a port number is. Enter presses the focused button.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(AppContext& app, QWidget* parent = nullptr);

    // One list per setting, in the dialog's order.
    struct Choice {
        const char* objectName;
        const char* caption;
        std::vector<const char*> entries;
        std::string Settings::*field;
        int labelX, labelY, listX, listWidth;  // twips
    };
    static const std::vector<Choice>& choices();

signals:
    // The settings changed and ProTool has run: the status line is due.
    void proToolRan();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void confirm();
    void showPortDevice();

    AppContext& m_app;
    std::vector<QComboBox*> m_lists;
    QCheckBox* m_sendingEdit = nullptr;
    QLabel* m_portDevice = nullptr;
};

}  // namespace fbx::ui
