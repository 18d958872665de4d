#include <QApplication>
#include <memory>

#include "MainWindow.h"
#include "PosixSerialPort.h"
#include "Startup.h"
#ifdef FBX_HAVE_EDITOR_WINDOW
#include "EditorWindow.h"
#endif
#ifdef FBX_HAVE_TRANSFER_WINDOW
#include "TransferFlows.h"
#endif

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    fbx::ui::SetUpApplication(application);

    fbx::ui::MainCommands commands;
#ifdef FBX_HAVE_TRANSFER_WINDOW
    commands.send = fbx::ui::ChooseAndSendFile;
    commands.receive = fbx::ui::ReceiveToFile;
#endif
#ifdef FBX_HAVE_EDITOR_WINDOW
    commands.openEditor = [](fbx::ui::AppContext& app) -> QWidget* {
        auto* editor = new fbx::ui::EditorWindow(app);
        editor->show();
        return editor;
    };
#endif

    fbx::ui::MainWindow window(std::move(commands));
    if (!window.app().makePort) {
        window.app().makePort = [] { return std::make_unique<fbx::PosixSerialPort>(); };
    }
    window.show();
    return application.exec();
}
