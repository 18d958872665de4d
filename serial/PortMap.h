#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fbx {

// The port map file: which device each port number of the settings is. It
// lives in the start directory beside the configuration file, one "N=DEVICE"
// line each (1=/dev/ttyUSB0, 3=rfc2217://10.0.0.5:4001), "#" starts a
// comment, blank lines are allowed. The configuration file itself does not
// change.
inline constexpr const char* kPortMapFileName = "ferobrixlan.ports";

struct PortMap {
    std::map<int, std::string> devices;
    // One text per damaged line, naming the file and the line number; the
    // line is ignored.
    std::vector<std::string> problems;
};

// Reads the text of a port map. fileName names the file in the problems; a
// relative device path is taken from startDir.
PortMap parsePortMap(std::string_view text, const std::string& fileName,
                     const std::string& startDir);

// The device port N maps to, seen from startDir: the environment variable
// FEROBRIXLAN_PORT<N> when it is set, else the entry of the port map file in
// startDir, else /dev/ttyS<N-1>. Empty for numbers below 1. The file is read
// at each call (it is a few lines); problems of a file content not seen before
// in this process go to the port map reporter, so each damaged line is
// reported once.
std::string mappedDevice(int port, const std::string& startDir);

// mappedDevice from the current directory: the command line's map, and the
// default of every host that constructs a port without a map of its own.
std::string portDevicePath(int port);

// Reads startDir's port map now, so that a damaged line is reported at
// start-up rather than at the first transfer.
void checkPortMap(const std::string& startDir);

// Where the problems of a port map go. The default prints each on standard
// error; the window program shows them in a message box. Returns the
// reporter it replaces.
using PortMapReporter = std::function<void(const std::string& problem)>;
PortMapReporter setPortMapReporter(PortMapReporter reporter);

}  // namespace fbx
