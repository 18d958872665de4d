#pragma once

#include <functional>
#include <memory>
#include <string>

#include "SerialPort.h"
#include "Settings.h"

namespace fbx::ui {

// The process-wide state of the window program: the one Settings record, the
// serial codes ProTool derives from it, the start-up directory and the
// configuration file in use. Every window reads and writes it directly; it
// lives as long as the main window.
struct AppContext {
    Settings settings;
    SerialCodes codes;
    std::string programDir;  // start-up directory with a trailing '/'
    std::string configPath;  // configuration file in use
    int editorOpen = 0;      // 1 while the built-in editor window is loaded

    // Makes the serial port a transfer window opens (a DeviceSerialPort with
    // the port map of programDir, unless a test supplies another).
    std::function<std::unique_ptr<SerialPort>()> makePort;
};

}  // namespace fbx::ui
