#pragma once

#include <termios.h>
#include <functional>
#include <string>

#include "LinePacer.h"
#include "SerialPort.h"

namespace fbx {

// Set to 1, a pseudo-terminal is paced as a line at its configured baud rate
// and frame would be (the demo's simulated machines): a send then runs at
// most LinePacer::kAhead characters ahead of what the line has carried.
inline constexpr const char* kPacePtyVariable = "FEROBRIXLAN_PACE_PTY";

// The line parameters decoded from a baud-rate index and a line-mode word.
struct LineSettings {
    speed_t speed = B0;
    int baud = 0;
    int dataBits = 8;
    char parity = 'n';  // 'n', 'o' or 'e'
    int stopBits = 1;
};

// False for a code the layer does not know.
bool decodeLineSettings(int baudCode, int mode, LineSettings& out);

// The line-status word (S_CTS, S_DSR, S_RI, S_CD) for the modem bits that
// TIOCMGET reports.
int lineStatusFromModemBits(int tiocmBits);

// Raw mode with the given line parameters: no software or hardware flow
// control and no input or output translation, so that DC1, DC3, NUL, CR and
// 128..255 pass unchanged; reads return at once (VMIN 0, VTIME 0).
void applyLineSettings(const LineSettings& line, termios& t);

// The serial layer over a POSIX terminal device. The descriptor is
// non-blocking; writes wait, bounded, on the descriptor when the driver's
// queue is full. On a serial device (a UART, a USB adapter) writes are paced
// at the configured baud rate and frame, and the driver's output queue is
// kept to a few characters, so that a DC3 from the machine stops the line
// within a few characters even where the device holds a FIFO of its own
// that the driver does not count, or where the UART is emulated and
// drains at once. A pseudo-terminal, which reports no queue, is not held
// back unless FEROBRIXLAN_PACE_PTY=1 asks for it to be paced as a line.
//
// The port is opened exclusively (TIOCEXCL: a second program's open fails
// while a transfer owns the line) and the device's own settings are put back
// when it closes.
class PosixSerialPort : public SerialPort {
public:
    using DeviceMap = std::function<std::string(int)>;
    explicit PosixSerialPort(DeviceMap deviceFor);
    ~PosixSerialPort() override;

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
    void setWriteWaits(bool waits) override { m_writesWait = waits; }
    int writableInMs() const override { return m_pacer.roomInMs(LinePacer::nowUs()); }
    int nativeHandle() const override { return m_fd; }
    std::string lastError() const override { return m_lastError; }

    const std::string& devicePath() const { return m_device; }
    bool isPseudoTerminal() const { return m_isPty; }
    bool isPaced() const { return m_pacer.paced(); }

    // How long sio_putch waits for room in the driver's queue before it gives
    // up with SIO_WRITETIMEOUT (long enough for one character at 1200 baud,
    // short enough that a window driving the send stays responsive while a
    // line does not drain), and how many characters a real UART may hold.
    static constexpr int kWriteWaitMs = 20;
    static constexpr int kMaxQueuedOnUart = 4;
    // The longest a paced write waits for the line to make room before it
    // answers "not sent, try again".
    static constexpr int kPaceWaitUs = 2000;

private:
    bool isOpen(int port) const { return m_fd >= 0 && port == m_port; }
    // errno after a failed call: SIO_PORTLOST when the device is gone.
    int fail(const char* what, int err);
    int setModemLine(int line, int mode);
    bool waitForQueueRoom();

    DeviceMap m_deviceFor;
    int m_fd = -1;
    int m_port = 0;
    bool m_isPty = false;
    bool m_haveSaved = false;
    termios m_saved{};
    long m_charTimeUs = 1000;
    LinePacer m_pacer;
    bool m_writesWait = true;
    std::string m_device;
    std::string m_lastError;
};

}  // namespace fbx
