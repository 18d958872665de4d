#include "LinePorts.h"

#include "PosixSerialPort.h"

namespace fbx::shop {

std::string linePortProblem(const std::string& port) {
    if (port.empty()) return "no device given";
    if (port.find("://") != std::string::npos)
        return "network ports are not available in this build; give a device such as /dev/ttyS0";
    if (port[0] != '/') return "give the device's full path, such as /dev/ttyS0";
    return {};
}

std::unique_ptr<SerialPort> makeLinePort(const std::string& port) {
    return std::make_unique<PosixSerialPort>([port](int number) {
        return number == 1 ? port : std::string();
    });
}

}  // namespace fbx::shop
