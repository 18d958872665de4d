#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "DeviceSerialPort.h"
#include "EditorWindow.h"
#include "MainWindow.h"
#include "Prompts.h"
#include "Startup.h"
#include "TransferFlows.h"

namespace {

const char* kUsage =
    "usage: ferobrixlan [--help] [Qt options]\n"
    "\n"
    "Opens the main window, which sends NC programs to a machine tool and\n"
    "receives them over the serial line of the configured port.\n"
    "The settings (ferobrixlan.cfg) and the port map (ferobrixlan.ports) are\n"
    "those of the directory the program is started in. Port N is the device\n"
    "named by FEROBRIXLAN_PORT<N>, else the one given for N in the port map,\n"
    "else /dev/ttyS<N-1>. Qt's own options, such as -platform and -style, are\n"
    "taken as well.\n"
    "\n"
    "  --help    this text\n";

}  // namespace

int main(int argc, char* argv[]) {
    // Answered before the window system is reached, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
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
