#include "PollPort.h"

namespace fbx {

int PollPort(SerialPort& port, int portNumber, bool brix, PollState& state) {
    char buffer[kReadBufferSize];
    int n = port.sio_read(portNumber, buffer, kReadBufferSize);
    if (n == SIO_PORTLOST) return n;
    for (int i = 0; i < n; ++i) {
        auto byte = static_cast<std::uint8_t>(buffer[i]);
        buffer[i] = 0;
        state.lastByteRead = byte;
        if (byte == kDC3) {
            state.xoffHold = 1;
        } else if (byte == kDC1) {
            state.xoffHold = 0;
            state.startSignal = 1;
        }
    }
    if (brix) {
        int status = port.sio_lstatus(portNumber);
        if (status == SIO_PORTLOST) return status;
        state.lineHold = (status >= 0 && (status & S_DSR)) ? 0 : 1;
    }
    return n < 0 ? 0 : n;
}

OpenFailure openPort(SerialPort& port, const SerialCodes& codes, bool refuseLine) {
    const int number = codes.portNumber;
    if (port.sio_open(number) != SIO_OK) {
        port.sio_close(number);
        return OpenFailure::PortError;
    }
    port.sio_DTR(number, 1);
    port.sio_RTS(number, 1);
    if (refuseLine || port.sio_ioctl(number, codes.baudCode, codes.modeWord()) != SIO_OK)
        return OpenFailure::SettingError;
    port.sio_flowctrl(number, 0);
    return OpenFailure::None;
}

}  // namespace fbx
