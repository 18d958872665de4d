// The least a send can do per byte, as the peer of ferobrixlan-cli send in the
// transfer benchmarks: each pass makes one non-blocking read of what the
// machine sent (DC3 holds the line, DC1 releases it) and, unless held, one
// one-byte write. No engine, no host loop, no statistics, no operator.
//
//   bare_send_loop FILE DEVICE [--wait-dc1]
//
// The device is set raw as the serial layer sets it. With --wait-dc1 nothing
// goes out before the machine's DC1, as in "Data In/Out". While held, or
// while the driver's queue is full, the loop waits on the descriptor with the
// same 5 ms look the command line's host uses, so that its idle cost compares
// with the host's. Exit 0 once every byte is written, 1 on a usage or file
// error, 2 when the line is lost.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kDC1 = 17;
constexpr unsigned char kDC3 = 19;
constexpr int kLookMs = 5;

bool readFile(const char* path, std::vector<unsigned char>& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    unsigned char piece[65536];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) out.insert(out.end(), piece, piece + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int openRaw(const char* device) {
    int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &t);
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

bool gone(int err) { return err == EIO || err == ENXIO || err == EBADF || err == EPIPE; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (argc == 4 && std::strcmp(argv[3], "--wait-dc1") != 0) || argc > 4) {
        std::fprintf(stderr, "usage: bare_send_loop FILE DEVICE [--wait-dc1]\n");
        return 1;
    }
    std::vector<unsigned char> text;
    if (!readFile(argv[1], text)) {
        std::fprintf(stderr, "bare_send_loop: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int fd = openRaw(argv[2]);
    if (fd < 0) {
        std::fprintf(stderr, "bare_send_loop: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    bool held = argc == 4;  // waiting for the start signal is a hold until DC1
    size_t position = 0;
    unsigned char in[512];
    while (position < text.size()) {
        ssize_t n = ::read(fd, in, sizeof in);
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "bare_send_loop: line lost: %s\n", std::strerror(errno));
            return 2;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (in[i] == kDC3) held = true;
            else if (in[i] == kDC1) held = false;
        }
        if (held) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, kLookMs);
            continue;
        }
        ssize_t w = ::write(fd, &text[position], 1);
        if (w == 1) {
            ++position;
        } else if (w < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLIN | POLLOUT, 0};
            ::poll(&p, 1, kLookMs);
        } else if (w < 0 && gone(errno)) {
            std::fprintf(stderr, "bare_send_loop: line lost: %s\n", std::strerror(errno));
            return 2;
        }
    }
    ::close(fd);
    return 0;
}
