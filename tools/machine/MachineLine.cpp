#include "MachineLine.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "Pacer.h"

namespace fbx::machine {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
sigset_t g_waitMask;  // the mask during waits: the stop signals let through
bool g_signalsInstalled = false;

void onStopSignal(int signo) {
    g_stopSignal = signo;
}

// poll that lets the stop signals in while it waits.
int pollWithSignals(pollfd* fds, nfds_t n, int timeoutMs) {
    if (g_stopSignal) return -1;
    timespec ts{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    int r = ::ppoll(fds, n, &ts, g_signalsInstalled ? &g_waitMask : nullptr);
    if (r < 0 && errno == EINTR) return g_stopSignal ? -1 : 0;
    return r;
}

}  // namespace

void InstallStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    sigset_t old;
    sigprocmask(SIG_BLOCK, &stops, &old);
    g_waitMask = old;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&g_waitMask, s);
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    g_signalsInstalled = true;
}

int StopSignal() {
    return g_stopSignal;
}

MachineLine::~MachineLine() {
    close();
}

bool MachineLine::open(const std::string& linkPath, std::string& error) {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR);
    raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_cflag = (raw.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8 | CREAD | CLOCAL;
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);

    int master = -1, slave = -1;
    char name[PATH_MAX] = {};
    // openpty applies the settings before returning the slave, so nobody can
    // open it while its line discipline would still echo or translate.
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    ::close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slave = name;

    if (!linkPath.empty()) {
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            close();
            return false;
        }
        // Made beside the target and renamed over it, so a script waiting for
        // the link never sees a stale one disappear and come back.
        std::string temporary = linkPath + ".new" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(m_slave.c_str(), temporary.c_str()) != 0 ||
            ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
            error = "cannot make the link " + linkPath + ": " + std::strerror(errno);
            ::unlink(temporary.c_str());
            close();
            return false;
        }
        m_link = linkPath;
    }
    return true;
}

void MachineLine::removeLink() {
    if (m_link.empty()) return;
    // Only our own link: a later machine may have taken the path over.
    char target[PATH_MAX];
    ssize_t n = ::readlink(m_link.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<size_t>(n)) == m_slave) ::unlink(m_link.c_str());
    m_link.clear();
}

void MachineLine::close() {
    removeLink();
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

bool MachineLine::pcHasLineOpen() const {
    if (m_master < 0) return false;
    pollfd p{m_master, 0, 0};
    if (::poll(&p, 1, 0) < 0) return false;
    return !(p.revents & POLLHUP);
}

bool MachineLine::waitForPcOpen(double timeoutSeconds) {
    const double deadline = timeoutSeconds > 0 ? MonotonicSeconds() + timeoutSeconds : 0;
    for (;;) {
        // Bytes waiting count too: a quick PC may have opened, written and
        // closed between two looks.
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 0) >= 0 && (!(p.revents & POLLHUP) || (p.revents & POLLIN))) return true;
        if (deadline > 0 && MonotonicSeconds() >= deadline) return false;
        if (!pause(20)) return false;
    }
}

int MachineLine::wait(short events, int timeoutMs) {
    pollfd p{m_master, events, 0};
    int r = pollWithSignals(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (r < 0) return -1;
    return r == 0 ? 0 : p.revents;
}

bool MachineLine::pause(int timeoutMs) {
    return pollWithSignals(nullptr, 0, timeoutMs < 0 ? 0 : timeoutMs) >= 0;
}

long MachineLine::read(std::uint8_t* buffer, std::size_t max) {
    if (m_master < 0) return -1;
    for (;;) {
        ssize_t n = ::read(m_master, buffer, max);
        if (n > 0) return static_cast<long>(n);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return 0;
        return -1;  // EIO: the slave is closed and nothing is left
    }
}

long MachineLine::write(const std::uint8_t* data, std::size_t count) {
    if (m_master < 0) return -1;
    for (;;) {
        ssize_t n = ::write(m_master, data, count);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return -1;
    }
}

long MachineLine::queued() const {
    int n = 0;
    if (m_master < 0 || ::ioctl(m_master, TIOCINQ, &n) != 0) return 0;
    return n;
}

bool MachineLine::writeControl(std::uint8_t code) {
    const double deadline = MonotonicSeconds() + 1.0;
    for (;;) {
        long n = write(&code, 1);
        if (n == 1) return true;
        if (n < 0 || MonotonicSeconds() >= deadline) return false;
        if (wait(POLLOUT, 20) < 0) return false;
    }
}

}  // namespace fbx::machine
