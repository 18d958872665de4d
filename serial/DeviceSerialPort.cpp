#include "DeviceSerialPort.h"

#include "NetworkSerialPort.h"
#include "PosixSerialPort.h"

namespace fbx {

DeviceSerialPort::DeviceSerialPort(DeviceMap deviceFor) : m_deviceFor(std::move(deviceFor)) {}

DeviceSerialPort::~DeviceSerialPort() = default;

int DeviceSerialPort::sio_open(int port) {
    if (m_open) return m_port->sio_open(port);  // the port's own "already open"
    m_port.reset();
    m_device = m_deviceFor(port);
    DeviceName name = parseDeviceName(m_device);
    m_kind = name.kind;
    switch (name.kind) {
        case DeviceKind::Tty:
            m_port = std::make_unique<PosixSerialPort>([path = name.path](int) { return path; });
            break;
        case DeviceKind::Rfc2217:
        case DeviceKind::RawTcp:
            m_port = std::make_unique<NetworkSerialPort>(std::move(name));
            break;
        case DeviceKind::Invalid:
            m_lastError = "port " + std::to_string(port) + ": " +
                          (m_device.empty() ? std::string("no such port")
                                            : "\"" + m_device + "\": " + name.why);
            return SIO_BADPORT;
    }
    m_port->setWriteWaits(m_writesWait);
    const int rc = m_port->sio_open(port);
    m_open = rc == SIO_OK;
    return rc;
}

int DeviceSerialPort::sio_close(int port) {
    if (!m_port) return SIO_BADPORT;
    const int rc = m_port->sio_close(port);
    if (rc == SIO_OK) m_open = false;
    return rc;
}

int DeviceSerialPort::sio_ioctl(int port, int baud, int mode) {
    return m_open ? m_port->sio_ioctl(port, baud, mode) : SIO_BADPORT;
}

int DeviceSerialPort::sio_flowctrl(int port, int mode) {
    return m_open ? m_port->sio_flowctrl(port, mode) : SIO_BADPORT;
}

int DeviceSerialPort::sio_DTR(int port, int mode) {
    return m_open ? m_port->sio_DTR(port, mode) : SIO_BADPORT;
}

int DeviceSerialPort::sio_RTS(int port, int mode) {
    return m_open ? m_port->sio_RTS(port, mode) : SIO_BADPORT;
}

int DeviceSerialPort::sio_flush(int port, int func) {
    return m_open ? m_port->sio_flush(port, func) : SIO_BADPORT;
}

int DeviceSerialPort::sio_putch(int port, int term) {
    return m_open ? m_port->sio_putch(port, term) : SIO_BADPORT;
}

int DeviceSerialPort::sio_read(int port, char* buf, int len) {
    return m_open ? m_port->sio_read(port, buf, len) : SIO_BADPORT;
}

int DeviceSerialPort::sio_lstatus(int port) {
    return m_open ? m_port->sio_lstatus(port) : SIO_BADPORT;
}

void DeviceSerialPort::waitForInput(int timeoutMs) {
    if (m_open) m_port->waitForInput(timeoutMs);
}

void DeviceSerialPort::setWriteWaits(bool waits) {
    m_writesWait = waits;
    if (m_port) m_port->setWriteWaits(waits);
}

int DeviceSerialPort::writableInMs() const {
    return m_open ? m_port->writableInMs() : 0;
}

int DeviceSerialPort::nativeHandle() const {
    return m_open ? m_port->nativeHandle() : -1;
}

std::string DeviceSerialPort::lastError() const {
    return m_port ? m_port->lastError() : m_lastError;
}

}  // namespace fbx
