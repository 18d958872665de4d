#pragma once

#include <functional>
#include <memory>
#include <string>

#include "SerialPort.h"

namespace fbx::shop {

// Every line of the service is made here, so that the kind of port a
// machine's `port` names is decided in one place.

// Why port cannot be used, or an empty string when it can: a device's full
// path, or a line of a device server (rfc2217://HOST:PORT, tcp://HOST:PORT).
std::string linePortProblem(const std::string& port);

// A closed port for the machine's line: port number 1 of it is the device.
std::unique_ptr<SerialPort> makeLinePort(const std::string& port);

// How the service makes its lines; tests put an in-memory port in its place.
using LinePortFactory = std::function<std::unique_ptr<SerialPort>(const std::string& port)>;

}  // namespace fbx::shop
