#include "LinePorts.h"

#include "DeviceName.h"
#include "DeviceSerialPort.h"

namespace fbx::shop {

std::string linePortProblem(const std::string& port) {
    const DeviceName device = parseDeviceName(port);
    if (device.kind == DeviceKind::Invalid) return device.why;
    if (device.kind == DeviceKind::Tty && port[0] != '/')
        return "give the device's full path, such as /dev/ttyS0";
    return {};
}

std::unique_ptr<SerialPort> makeLinePort(const std::string& port) {
    return std::make_unique<DeviceSerialPort>([port](int number) {
        return number == 1 ? port : std::string();
    });
}

}  // namespace fbx::shop
