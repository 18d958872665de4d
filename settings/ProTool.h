#pragma once

#include <string>

#include "Settings.h"

namespace fbx {

// Recomputes the serial codes from port, baudRate, parity, dataBits and
// stopBits. The port is its number, 1 to 9999 as the port map numbers ports
// ("1", "2", "3" of a mapped device server). A text that matches no row of
// the code table, or no port number, leaves its code as it was (0 if it was
// never set).
void ProTool(const Settings& settings, SerialCodes& codes);

// The first line setting whose text the code table does not know, named for
// the operator (baud rate "115200"); empty when all are known. Such a line
// must not be opened: its code would be a stale one, or none.
std::string unknownLineSetting(const Settings& settings);

// The main window's status line, e.g.
// "Software Handshake     comm port=1       9600,7,2     e      NOMAL".
std::string statusLineText(const Settings& settings);

// The text of the first-run greeting and its title.
inline constexpr const char* kWelcomeText = "Welcome enter the Ferolan  ";
inline constexpr const char* kWelcomeTitle = "Welcome Use Me";

}  // namespace fbx
