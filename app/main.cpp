#include <QApplication>
#include <memory>

#include "EditorWindow.h"
#include "MainWindow.h"
#include "PosixSerialPort.h"
#include "Startup.h"
#include "TransferFlows.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    fbx::ui::SetUpApplication(application);

    fbx::ui::MainCommands commands;
    commands.send = fbx::ui::ChooseAndSendFile;
    commands.receive = fbx::ui::ReceiveToFile;
    commands.openEditor = [](fbx::ui::AppContext& app) -> QWidget* {
        auto* editor = new fbx::ui::EditorWindow(app);
        editor->show();
        return editor;
    };

    fbx::ui::MainWindow window(std::move(commands));
    if (!window.app().makePort) {
        window.app().makePort = [] { return std::make_unique<fbx::PosixSerialPort>(); };
    }
    window.show();
    return application.exec();
}
