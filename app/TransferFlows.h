#pragma once

#include <QString>

class QWidget;

namespace fbx::ui {

struct AppContext;

// Work > Send: the operator picks a program, which is sent in the transfer
// window (modal). Returns when the window has closed. The file dialog starts
// in the folder a program was last chosen in; the program goes to the top of
// the recent programs.
void ChooseAndSendFile(QWidget* mainWindow, AppContext& app);
// The same for a program named already (a recent one, one dropped on the main
// window); the dialog comes only if it turns out empty or missing.
void SendFile(QWidget* mainWindow, AppContext& app, const QString& path);

// Work > Receive: the operator picks the target file, into which a program
// from the machine is received in the transfer window (modal). Its dialog
// starts in the folder last used too.
void ReceiveToFile(QWidget* mainWindow, AppContext& app);

}  // namespace fbx::ui
