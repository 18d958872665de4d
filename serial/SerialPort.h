#pragma once

#include <cstdint>
#include <string>

namespace fbx {

// Result codes of the port operations. 0 is success; sio_read returns a byte
// count (0 = nothing waiting) or one of the negative codes.
enum SioResult : int {
    SIO_OK = 0,
    SIO_BADPORT = -1,       // port not open, or no such port number
    SIO_OPENFAIL = -5,      // the device could not be opened
    SIO_BADPARM = -7,       // a code that the layer does not know
    SIO_FAIL = -10,         // the system refused the operation
    SIO_WRITETIMEOUT = -12, // the byte could not be queued in time; it was not sent
    SIO_PORTLOST = -20,     // the device is gone (adapter pulled, peer closed)
};

// Line-status bits returned by sio_lstatus.
enum SioLineStatus : int { S_CTS = 1, S_DSR = 2, S_RI = 4, S_CD = 8 };

// Flush selectors for sio_flush.
enum SioFlush : int { FLUSH_INPUT = 0, FLUSH_OUTPUT = 1, FLUSH_BOTH = 2 };

inline constexpr int kReadBufferSize = 512;

// The serial port as the transfer engines see it: one port open at a time,
// numbered as the settings number it, every call from the one thread that
// runs the transfer. No operation blocks for long.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual int sio_open(int port) = 0;
    virtual int sio_close(int port) = 0;
    // baud: the baud-rate index (7 = 1200 ... 12 = 9600 ... 15 = 57600).
    // mode: data bits (0..3 = 5..8) | stop bits (0 = 1, 4 = 2) |
    //       parity (0 none, 8 odd, 24 even). 0 when the line is set.
    virtual int sio_ioctl(int port, int baud, int mode) = 0;
    virtual int sio_flowctrl(int port, int mode) = 0;
    virtual int sio_DTR(int port, int mode) = 0;
    virtual int sio_RTS(int port, int mode) = 0;
    virtual int sio_flush(int port, int func) = 0;
    // Queues one byte. SIO_OK once queued; SIO_WRITETIMEOUT when it could not
    // be queued within a short bound (the byte was not sent, try again);
    // SIO_PORTLOST when the device is gone.
    virtual int sio_putch(int port, int term) = 0;
    // Takes at most len (at most 512) waiting bytes at once. 0 when nothing
    // is waiting; SIO_PORTLOST when the device is gone.
    virtual int sio_read(int port, char* buf, int len) = 0;
    // The line-status bits (S_DSR for DSR on), or a negative code.
    virtual int sio_lstatus(int port) = 0;

    // Waits up to timeoutMs until input arrives or the line changes state.
    // Hosts call it when a transfer can make no progress, instead of spinning.
    // Returns at once for ports with nothing to wait on.
    virtual void waitForInput(int timeoutMs) = 0;

    // For a host that serves many lines from one thread: with false, a write
    // never waits for the line's pace or queue (it answers SIO_WRITETIMEOUT
    // at once), and writableInMs() says when to try again.
    virtual void setWriteWaits(bool) {}
    // Milliseconds until the line has room for several more characters; 0
    // when a write may go now.
    virtual int writableInMs() const { return 0; }
    // The descriptor a window's event loop may watch, or -1.
    virtual int nativeHandle() const { return -1; }

    // Why the last failing operation failed (device path and the system's
    // reason), for the detail of an operator's message.
    virtual std::string lastError() const { return {}; }
};

}  // namespace fbx
