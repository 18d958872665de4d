#include "MemorySerialPort.h"

#include <algorithm>

namespace fbx {

void MemorySerialPort::queueInput(std::initializer_list<int> bytes) {
    std::string chunk;
    for (int b : bytes) chunk += static_cast<char>(b);
    m_input.push_back(chunk);
}

bool MemorySerialPort::step() {
    if (m_failAfter == 0) return false;
    if (m_failAfter > 0) --m_failAfter;
    return true;
}

int MemorySerialPort::sio_open(int port) {
    calls.push_back({"open", port});
    if (openResult == SIO_OK) open = true;
    return openResult;
}

int MemorySerialPort::sio_close(int port) {
    calls.push_back({"close", port});
    open = false;
    return SIO_OK;
}

int MemorySerialPort::sio_ioctl(int port, int baud, int mode) {
    calls.push_back({"ioctl", baud, mode});
    (void)port;
    return ioctlResult;
}

int MemorySerialPort::sio_flowctrl(int, int mode) {
    calls.push_back({"flowctrl", mode});
    return SIO_OK;
}

int MemorySerialPort::sio_DTR(int, int mode) {
    calls.push_back({"DTR", mode});
    return step() ? SIO_OK : SIO_PORTLOST;
}

int MemorySerialPort::sio_RTS(int, int mode) {
    calls.push_back({"RTS", mode});
    return step() ? SIO_OK : SIO_PORTLOST;
}

int MemorySerialPort::sio_flush(int, int func) {
    calls.push_back({"flush", func});
    return SIO_OK;
}

int MemorySerialPort::sio_putch(int, int term) {
    if (!step()) return SIO_PORTLOST;
    if (m_writeTimeouts > 0) {
        --m_writeTimeouts;
        return SIO_WRITETIMEOUT;
    }
    auto byte = static_cast<std::uint8_t>(term);
    written += static_cast<char>(byte);
    if (onPut) onPut(byte);
    return SIO_OK;
}

int MemorySerialPort::sio_read(int, char* buf, int len) {
    ++reads;
    if (!step()) return SIO_PORTLOST;
    if (m_input.empty()) return 0;
    std::string& chunk = m_input.front();
    int n = std::min<int>({len, kReadBufferSize, static_cast<int>(chunk.size())});
    std::copy_n(chunk.begin(), n, buf);
    chunk.erase(0, static_cast<size_t>(n));
    if (chunk.empty()) m_input.pop_front();
    return n;
}

int MemorySerialPort::sio_lstatus(int) {
    ++lineStatusReads;
    if (!step()) return SIO_PORTLOST;
    if (lineStatusError != 0) return lineStatusError;
    return S_CTS | (dsr ? S_DSR : 0);
}

}  // namespace fbx
