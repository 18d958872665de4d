#include <QApplication>
#include <QTimer>
#include <memory>

#include "DeviceSerialPort.h"
#include "EditorWindow.h"
#include "MainWindow.h"
#include "Prompts.h"
#include "Startup.h"
#include "TransferFlows.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    fbx::ui::SetUpApplication(application);

    fbx::ui::MainCommands commands;
    commands.send = fbx::ui::ChooseAndSendFile;
    commands.receive = fbx::ui::ReceiveToFile;
    commands.sendFile = fbx::ui::SendFile;
    commands.openEditor = [](fbx::ui::AppContext& app) -> QWidget* {
        auto* editor = new fbx::ui::EditorWindow(app);
        editor->show();
        return editor;
    };

    // A damaged line of the port map is shown once the event loop runs, never
    // from inside the opening of a port.
    fbx::setPortMapReporter([](const std::string& problem) {
        QTimer::singleShot(0, [problem] {
            fbx::ui::ask(nullptr, fbx::Message{problem,
                                               fbx::kPortMapFileName,
                                               fbx::Buttons::Ok,
                                               fbx::Icon::Exclamation,
                                               false,
                                               {}});
        });
    });

    fbx::ui::MainWindow window(std::move(commands));
    if (!window.app().makePort) {
        window.app().makePort = [dir = window.app().programDir] {
            return std::make_unique<fbx::DeviceSerialPort>(
                [dir](int port) { return fbx::mappedDevice(port, dir); });
        };
    }
    fbx::checkPortMap(window.app().programDir);
    window.show();
    return application.exec();
}
