#include "PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fbx {

namespace {

bool meansDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE ||
           err == ENOENT || err == ESHUTDOWN;
}

bool meansNoModemLines(int err) { return err == ENOTTY || err == EINVAL || err == ENOSYS; }

struct BaudEntry {
    int code;
    speed_t speed;
    int baud;
};

// The baud-rate indices the settings can produce. Any other code is refused,
// so that a damaged or unknown rate never opens the line at some other speed.
constexpr BaudEntry kBauds[] = {
    {5, B300, 300},      {6, B600, 600},      {7, B1200, 1200},   {9, B2400, 2400},
    {10, B4800, 4800},   {12, B9600, 9600},   {13, B19200, 19200}, {14, B38400, 38400},
    {15, B57600, 57600},
};

bool isPtyDevice(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned maj = major(st.st_rdev);
    // Unix98 pty slaves and masters, the ptmx multiplexer, and old BSD ptys.
    return (maj >= 136 && maj <= 143) || (maj >= 128 && maj <= 135) ||
           (maj == 5 && minor(st.st_rdev) == 2) || maj == 2 || maj == 3;
}

long nowMs() {
    using namespace std::chrono;
    return static_cast<long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// " (process N)" for the process that holds the lock on fd's device, as
// the system lists its locks; empty when it does not tell.
std::string lockHolder(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return {};
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    FILE* locks = std::fopen("/proc/locks", "re");
    if (!locks) return {};
    char line[256];
    std::string holder;
    while (holder.empty() && std::fgets(line, sizeof line, locks)) {
        char kind[16], pid[16], device[64];
        if (std::sscanf(line, "%*s %15s %*s %*s %15s %63s", kind, pid, device) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(device, wanted) == 0)
            holder = std::string(" (process ") + pid + ")";
    }
    std::fclose(locks);
    return holder;
}

}  // namespace

bool decodeLineSettings(int baudCode, int mode, LineSettings& out) {
    LineSettings line;
    bool found = false;
    for (const BaudEntry& e : kBauds) {
        if (e.code == baudCode) {
            line.speed = e.speed;
            line.baud = e.baud;
            found = true;
        }
    }
    if (!found) return false;
    if (mode & ~0x1F) return false;
    line.dataBits = 5 + (mode & 0x03);
    line.stopBits = (mode & 0x04) ? 2 : 1;
    switch (mode & 0x18) {
        case 0x00: line.parity = 'n'; break;
        case 0x08: line.parity = 'o'; break;
        case 0x18: line.parity = 'e'; break;
        default: return false;  // 0x10 is no parity setting
    }
    out = line;
    return true;
}

int lineStatusFromModemBits(int bits) {
    int status = 0;
    if (bits & TIOCM_CTS) status |= S_CTS;
    if (bits & TIOCM_DSR) status |= S_DSR;
    if (bits & TIOCM_RI) status |= S_RI;
    if (bits & TIOCM_CD) status |= S_CD;
    return status;
}

void applyLineSettings(const LineSettings& line, termios& t) {
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IGNBRK | BRKINT | PARMRK | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CREAD | CLOCAL;
    switch (line.dataBits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        default: t.c_cflag |= CS8; break;
    }
    if (line.parity != 'n') t.c_cflag |= PARENB;
    if (line.parity == 'o') t.c_cflag |= PARODD;
    if (line.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, line.speed);
    cfsetospeed(&t, line.speed);
}

PosixSerialPort::PosixSerialPort(DeviceMap deviceFor) : m_deviceFor(std::move(deviceFor)) {}

PosixSerialPort::~PosixSerialPort() {
    if (m_fd >= 0) sio_close(m_port);
}

int PosixSerialPort::fail(const char* what, int err) {
    m_lastError = m_device + ": " + what + ": " + std::strerror(err);
    return meansDeviceGone(err) ? SIO_PORTLOST : SIO_FAIL;
}

int PosixSerialPort::sio_open(int port) {
    if (m_fd >= 0) {
        m_lastError = m_device + ": the port is already open";
        return SIO_OPENFAIL;
    }
    m_device = m_deviceFor(port);
    if (m_device.empty()) {
        m_lastError = "port " + std::to_string(port) + ": no such port";
        return SIO_BADPORT;
    }
    int fd = ::open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastError = m_device + ": " + std::strerror(errno);
        if (errno == EACCES)
            m_lastError += " (is the user in the dialout group?)";
        return SIO_OPENFAIL;
    }
    if (!isatty(fd)) {
        m_lastError = m_device + ": not a serial device";
        ::close(fd);
        return SIO_OPENFAIL;
    }
    // Keep a second program off the line while a transfer owns it. TIOCEXCL
    // does not hold root back; the lock does, among programs that take it
    // (every port of ours, the shop service's lines among them).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_lastError = m_device + ": in use by another program" + lockHolder(fd);
        ::close(fd);
        return SIO_OPENFAIL;
    }
    ioctl(fd, TIOCEXCL);
    m_haveSaved = tcgetattr(fd, &m_saved) == 0;
    m_fd = fd;
    m_port = port;
    m_isPty = isPtyDevice(fd);
    m_pacer.setLine(0, 0);
    m_lastError.clear();
    return SIO_OK;
}

int PosixSerialPort::sio_close(int port) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (m_haveSaved) tcsetattr(m_fd, TCSANOW, &m_saved);
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_port = 0;
    return SIO_OK;
}

int PosixSerialPort::sio_ioctl(int port, int baud, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    LineSettings line;
    if (!decodeLineSettings(baud, mode, line)) {
        m_lastError = m_device + ": unknown line setting (baud code " + std::to_string(baud) +
                      ", mode " + std::to_string(mode) + ")";
        return SIO_BADPARM;
    }
    termios t{};
    if (tcgetattr(m_fd, &t) != 0) return fail("tcgetattr", errno);
    applyLineSettings(line, t);
    int rc = tcsetattr(m_fd, TCSANOW, &t);
    if (rc != 0 && m_isPty) {
        // A pseudo-terminal forces 8 data bits without parity and may refuse
        // the request as a whole; the speed and stop bits still apply.
        LineSettings forced = line;
        forced.dataBits = 8;
        forced.parity = 'n';
        applyLineSettings(forced, t);
        rc = tcsetattr(m_fd, TCSANOW, &t);
    }
    if (rc != 0) return fail("tcsetattr", errno);
    termios back{};
    if (tcgetattr(m_fd, &back) != 0) return fail("tcgetattr", errno);
    bool applied = cfgetospeed(&back) == line.speed;
    if (!m_isPty) {
        const tcflag_t mask = CSIZE | PARENB | PARODD | CSTOPB;
        applied = applied && (back.c_cflag & mask) == (t.c_cflag & mask);
    }
    if (!applied) {
        m_lastError = m_device + ": the device refused the line setting";
        return SIO_FAIL;
    }
    const int bits = bitsPerCharacter(line.dataBits, line.parity != 'n', line.stopBits);
    m_charTimeUs = std::max(1L, 1000000L * bits / line.baud);
    const char* pace = std::getenv(kPacePtyVariable);
    const bool paced = !m_isPty || (pace && std::string(pace) == "1");
    m_pacer.setLine(paced ? line.baud : 0, bits);
    return SIO_OK;
}

int PosixSerialPort::sio_flowctrl(int port, int /*mode*/) {
    // Flow control is carried out by the transfer engines; the line's own is
    // always off (raw mode without IXON, IXOFF or CRTSCTS).
    return isOpen(port) ? SIO_OK : SIO_BADPORT;
}

int PosixSerialPort::setModemLine(int line, int mode) {
    int bits = line;
    if (ioctl(m_fd, mode ? TIOCMBIS : TIOCMBIC, &bits) == 0) return SIO_OK;
    int err = errno;
    if (meansNoModemLines(err)) return SIO_OK;  // a pseudo-terminal has none
    return fail("modem control", err);
}

int PosixSerialPort::sio_DTR(int port, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    return setModemLine(TIOCM_DTR, mode);
}

int PosixSerialPort::sio_RTS(int port, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    return setModemLine(TIOCM_RTS, mode);
}

int PosixSerialPort::sio_flush(int port, int func) {
    if (!isOpen(port)) return SIO_BADPORT;
    int queue = func == FLUSH_INPUT ? TCIFLUSH : func == FLUSH_OUTPUT ? TCOFLUSH : TCIOFLUSH;
    if (tcflush(m_fd, queue) != 0) return fail("tcflush", errno);
    if (func != FLUSH_INPUT) m_pacer.reset();
    return SIO_OK;
}

bool PosixSerialPort::waitForQueueRoom() {
    const long deadline = nowMs() + (m_writesWait ? kWriteWaitMs : 0);
    for (;;) {
        int queued = 0;
        if (ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued < kMaxQueuedOnUart) return true;
        if (nowMs() >= deadline) return false;
        // Sleep for about one character time: the queue drains at line speed.
        timespec ts{0, m_charTimeUs * 1000L};
        nanosleep(&ts, nullptr);
    }
}

int PosixSerialPort::sio_putch(int port, int term) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (!m_isPty && !waitForQueueRoom()) return SIO_WRITETIMEOUT;
    if (!m_pacer.takeTurn(m_writesWait ? kPaceWaitUs : 0)) return SIO_WRITETIMEOUT;
    const auto byte = static_cast<unsigned char>(term);
    const long deadline = nowMs() + (m_writesWait ? kWriteWaitMs : 0);
    for (;;) {
        ssize_t n = ::write(m_fd, &byte, 1);
        if (n == 1) {
            m_pacer.wroteNow();
            return SIO_OK;
        }
        int err = errno;
        if (n < 0 && err == EINTR) continue;
        if (n < 0 && err != EAGAIN) return fail("write", err);
        long left = deadline - nowMs();
        if (left <= 0) return SIO_WRITETIMEOUT;
        pollfd p{m_fd, POLLOUT, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) return fail("poll", errno);
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLOUT)) {
            m_lastError = m_device + ": the line was closed";
            return SIO_PORTLOST;
        }
    }
}

int PosixSerialPort::sio_read(int port, char* buf, int len) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (len > kReadBufferSize) len = kReadBufferSize;
    if (len <= 0) return 0;
    // Look before reading: a line whose peer has gone reads as empty, so the
    // hang-up is only seen here.
    pollfd p{m_fd, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    if (r < 0) return errno == EINTR ? 0 : fail("poll", errno);
    if (r == 0) return 0;
    if (!(p.revents & POLLIN)) {
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_lastError = m_device + ": the line was closed";
            return SIO_PORTLOST;
        }
        return 0;
    }
    ssize_t n = ::read(m_fd, buf, static_cast<size_t>(len));
    if (n > 0) return static_cast<int>(n);
    int err = n < 0 ? errno : 0;
    if (n < 0 && err != EAGAIN && err != EINTR) return fail("read", err);
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // Hung up and drained: the peer is gone.
        m_lastError = m_device + ": the line was closed";
        return SIO_PORTLOST;
    }
    return 0;
}

int PosixSerialPort::sio_lstatus(int port) {
    if (!isOpen(port)) return SIO_BADPORT;
    int bits = 0;
    if (ioctl(m_fd, TIOCMGET, &bits) != 0) {
        int err = errno;
        // A pseudo-terminal has no modem lines: report DSR and CTS on.
        if (meansNoModemLines(err)) return S_DSR | S_CTS;
        return fail("line status", err);
    }
    return lineStatusFromModemBits(bits);
}

void PosixSerialPort::waitForInput(int timeoutMs) {
    if (m_fd < 0) return;
    pollfd p{m_fd, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
}

}  // namespace fbx
