#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "SerialPort.h"

namespace fbx {

// An in-memory port for tests: scripted input, a record of every call and
// every byte written, a DSR line to switch, and a switch that makes every
// call after a point fail as a pulled cable would.
class MemorySerialPort : public SerialPort {
public:
    struct Call {
        std::string op;
        int a = 0;
        int b = 0;
        bool operator==(const Call&) const = default;
    };

    // Each queued chunk is what one read returns (split at 512 bytes).
    void queueInput(std::string_view bytes) { m_input.emplace_back(bytes); }
    void queueInput(std::initializer_list<int> bytes);
    bool inputPending() const { return !m_input.empty(); }

    // Runs after each byte is queued by sio_putch; a test may queue input
    // here (a machine answering with DC3 after so many bytes).
    std::function<void(std::uint8_t)> onPut;

    // After this many more successful operations every call fails with
    // SIO_PORTLOST; pullCable() fails them from now on.
    void failAfter(int operations) { m_failAfter = operations; }
    void pullCable() { m_failAfter = 0; }

    // The next n writes answer SIO_WRITETIMEOUT (the byte is not queued).
    void timeOutWrites(int n) { m_writeTimeouts = n; }

    int openResult = SIO_OK;
    int ioctlResult = SIO_OK;
    bool dsr = true;
    int lineStatusError = 0;  // non-zero: sio_lstatus fails with this code

    std::string written;      // every byte queued, in order
    std::vector<Call> calls;  // every call but sio_read and sio_lstatus
    int reads = 0;
    int lineStatusReads = 0;
    bool open = false;
    int waits = 0;
    bool writesWait = true;  // as the host last set it

    void setWriteWaits(bool waits) override { writesWait = waits; }
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
    void waitForInput(int) override { ++waits; }
    std::string lastError() const override {
        if (lost()) return "memory port: cable pulled";
        return openResult == SIO_OK ? "" : "memory port: open refused";
    }

private:
    bool lost() const { return m_failAfter == 0; }
    bool step();  // counts one operation; false once the cable is pulled

    std::deque<std::string> m_input;
    int m_failAfter = -1;
    int m_writeTimeouts = 0;
};

}  // namespace fbx
