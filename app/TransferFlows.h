#pragma once

class QWidget;

namespace fbx::ui {

struct AppContext;

// Work > Send: the operator picks a program, which is sent in the transfer
// window (modal). Returns when the window has closed.
void ChooseAndSendFile(QWidget* mainWindow, AppContext& app);

// Work > Receive: the operator picks the target file, into which a program
// from the machine is received in the transfer window (modal).
void ReceiveToFile(QWidget* mainWindow, AppContext& app);

}  // namespace fbx::ui
