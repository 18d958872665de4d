// Runs inside the test guest (tests/e2e/uart_guest_test.py) against a real
// 16550 UART driver, where a pseudo-terminal cannot show what the serial
// layer does: data bits and parity, the modem lines, the driver's output
// queue. Prints one "ok NAME" or "FAIL NAME: why" line per check; the exit
// code is the number of failed checks.
//
//   uart_guest_probe settings DEV   line settings
//   uart_guest_probe modem DEV      DTR/RTS/DSR/CTS through the UART's loopback
//   uart_guest_probe outq DEV STOP  the largest output queue seen until file STOP exists
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "PosixSerialPort.h"

using namespace fbx;

// The UART's loopback bit of TIOCMBIS, as Linux defines it (glibc leaves it out).
#ifndef TIOCM_LOOP
#define TIOCM_LOOP 0x8000
#endif

namespace {

int g_failed = 0;

void check(bool ok, const char* name, const std::string& why = {}) {
    if (ok) {
        std::printf("ok %s\n", name);
    } else {
        std::printf("FAIL %s: %s\n", name, why.c_str());
        ++g_failed;
    }
    std::fflush(stdout);
}

std::string hex(unsigned long v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%lx", v);
    return b;
}

// 9600 7E2 on the UART as the driver holds it: the data bits and parity a
// pseudo-terminal cannot show, and raw input without flow control.
int settings(const char* dev) {
    PosixSerialPort port([dev](int) { return std::string(dev); });
    check(port.sio_open(1) == SIO_OK, "open", port.lastError());
    check(!port.isPseudoTerminal(), "a UART, not a pseudo-terminal");
    check(port.sio_ioctl(1, 12, 30) == SIO_OK, "9600 7E2 accepted", port.lastError());
    termios t{};
    tcgetattr(port.nativeHandle(), &t);
    check((t.c_cflag & CSIZE) == CS7, "7 data bits", hex(t.c_cflag));
    check((t.c_cflag & (PARENB | PARODD)) == PARENB, "even parity", hex(t.c_cflag));
    check(t.c_cflag & CSTOPB, "2 stop bits", hex(t.c_cflag));
    check(cfgetospeed(&t) == B9600, "9600 baud", hex(cfgetospeed(&t)));
    check(!(t.c_iflag & (IXON | IXOFF | IXANY)), "no software flow control", hex(t.c_iflag));
    check(!(t.c_lflag & (ICANON | ECHO)), "raw input", hex(t.c_lflag));
    return g_failed;
}

int modem(const char* dev) {
    PosixSerialPort port([dev](int) { return std::string(dev); });
    if (port.sio_open(1) != SIO_OK) {
        check(false, "open", port.lastError());
        return g_failed;
    }
    port.sio_ioctl(1, 12, 3);
    // In the UART's loopback DTR comes back as DSR, RTS as CTS, and what is
    // sent as what is received.
    int loop = TIOCM_LOOP;
    check(ioctl(port.nativeHandle(), TIOCMBIS, &loop) == 0, "loopback on", std::strerror(errno));
    port.sio_DTR(1, 1);
    port.sio_RTS(1, 0);
    usleep(20000);
    int s = port.sio_lstatus(1);
    check((s & (S_DSR | S_CTS)) == S_DSR, "DTR on, RTS off: DSR on, CTS off", hex(s));
    port.sio_DTR(1, 0);
    port.sio_RTS(1, 1);
    usleep(20000);
    s = port.sio_lstatus(1);
    check((s & (S_DSR | S_CTS)) == S_CTS, "DTR off, RTS on: CTS on, DSR off", hex(s));

    const std::string sent("\x00\x11\x13\x7f", 4);
    for (char c : sent) port.sio_putch(1, static_cast<unsigned char>(c));
    std::string got;
    char buf[512];
    for (int i = 0; i < 100 && got.size() < sent.size(); ++i) {
        port.waitForInput(20);
        int n = port.sio_read(1, buf, 512);
        if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    check(got == sent, "bytes through the loopback unchanged",
          std::to_string(got.size()) + " bytes");
    ioctl(port.nativeHandle(), TIOCMBIC, &loop);
    port.sio_close(1);
    return g_failed;
}

int outq(const char* dev, const char* stop) {
    int fd = ::open(dev, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        check(false, "open", std::strerror(errno));
        return g_failed;
    }
    int most = 0;
    long samples = 0, busy = 0;
    struct stat st {};
    while (stat(stop, &st) != 0) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) == 0) {
            ++samples;
            if (queued > 0) ++busy;
            if (queued > most) most = queued;
        }
        timespec ts{0, 300000};
        nanosleep(&ts, nullptr);
    }
    ::close(fd);
    std::printf("@@ outq-max %d samples %ld busy %ld\n", most, samples, busy);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "settings") return settings(argv[2]);
    if (mode == "modem") return modem(argv[2]);
    if (mode == "outq" && argc > 3) return outq(argv[2], argv[3]);
    std::fprintf(stderr, "usage: uart_guest_probe settings|modem DEV | outq DEV STOPFILE\n");
    return 100;
}
