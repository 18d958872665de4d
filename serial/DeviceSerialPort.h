#pragma once

#include <functional>
#include <memory>
#include <string>

#include "DeviceName.h"
#include "PortMap.h"
#include "SerialPort.h"

namespace fbx {

// The port hosts construct: at sio_open it looks up the device the port
// number maps to and opens the right kind of port for it, a terminal device
// (PosixSerialPort) or a line of a device server (NetworkSerialPort); every
// later call goes to that port until the next open. A device string that is
// not understood fails the open with SIO_BADPORT and the reason in
// lastError().
class DeviceSerialPort : public SerialPort {
public:
    using DeviceMap = std::function<std::string(int)>;
    explicit DeviceSerialPort(DeviceMap deviceFor = portDevicePath);
    ~DeviceSerialPort() override;

    int sio_open(int port) override;
    int sio_close(int port) override;
    int sio_ioctl(int port, int baud, int mode) override;
    int sio_flowctrl(int port, int mode) override;
    int sio_DTR(int port, int mode) override;
    int sio_RTS(int port, int mode) override;
    int sio_flush(int port, int func) override;
    int sio_putch(int port, int term) override;
    int sio_read(int port, char* buf, int len) override;
    int sio_lstatus(int port) override;
    void waitForInput(int timeoutMs) override;
    void setWriteWaits(bool waits) override;
    int writableInMs() const override;
    int nativeHandle() const override;
    std::string lastError() const override;

    // The device of the last open ("" before the first).
    const std::string& device() const { return m_device; }
    DeviceKind kind() const { return m_kind; }

private:
    DeviceMap m_deviceFor;
    std::unique_ptr<SerialPort> m_port;
    std::string m_device;
    DeviceKind m_kind = DeviceKind::Invalid;
    bool m_open = false;
    bool m_writesWait = true;
    std::string m_lastError;
};

}  // namespace fbx
