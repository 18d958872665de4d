#include "NetworkSerialPort.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "PosixSerialPort.h"

namespace fbx {

namespace {

constexpr std::size_t kReadPiece = 4096;

// A device server that vanishes without closing the connection (cable pulled
// from its network side) is given up after this long without an answer.
constexpr int kUnansweredMs = 10000;

void keepAlive(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    int idle = 5, interval = 2, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    unsigned timeout = kUnansweredMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
}

std::uint8_t parityCode(char parity) {
    switch (parity) {
        case 'o':
            return Rfc2217Session::kParityOdd;
        case 'e':
            return Rfc2217Session::kParityEven;
        default:
            return Rfc2217Session::kParityNone;
    }
}

const char* parityName(std::uint8_t code) {
    switch (code) {
        case Rfc2217Session::kParityNone:
            return "none";
        case Rfc2217Session::kParityOdd:
            return "odd";
        case Rfc2217Session::kParityEven:
            return "even";
        case 4:
            return "mark";
        case 5:
            return "space";
        default:
            return "unknown";
    }
}

}  // namespace

NetworkSerialPort::NetworkSerialPort(DeviceName device) : m_device(std::move(device)) {}

NetworkSerialPort::~NetworkSerialPort() {
    if (m_fd >= 0) sio_close(m_port);
}

int NetworkSerialPort::lost(const std::string& why) {
    if (!m_eof) m_lastError = m_device.endpoint() + ": " + why;
    m_eof = true;
    return SIO_PORTLOST;
}

int NetworkSerialPort::sio_open(int port) {
    if (m_fd >= 0) {
        m_lastError = m_device.endpoint() + ": the port is already open";
        return SIO_OPENFAIL;
    }
    const std::string where = m_device.endpoint();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(m_device.tcpPort);
    if (int rc = getaddrinfo(m_device.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        m_lastError = where + ": " + gai_strerror(rc);
        return SIO_OPENFAIL;
    }
    std::string reason = "no address";
    for (addrinfo* a = found; a && m_fd < 0; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            reason = std::strerror(errno);
            continue;
        }
        int err = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int r = ::poll(&p, 1, kConnectMs);
            socklen_t size = sizeof err;
            if (r == 0)
                err = ETIMEDOUT;
            else if (r < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0)
                err = errno;
        }
        if (err != 0) {
            reason = err == ETIMEDOUT
                         ? "no answer within " + std::to_string(kConnectMs / 1000) + " s"
                         : std::strerror(err);
            ::close(fd);
            continue;
        }
        m_fd = fd;
    }
    freeaddrinfo(found);
    if (m_fd < 0) {
        m_lastError = where + ": " + reason;
        return SIO_OPENFAIL;
    }
    keepAlive(m_fd);
    m_port = port;
    m_eof = false;
    m_input.clear();
    m_pending.clear();
    m_session = Rfc2217Session{};
    m_pacer.setLine(0, 0);
    m_lastError.clear();
    if (telnet()) {
        m_session.start(m_pending);
        if (sendPending() != SIO_OK ||
            !pumpUntil([this] { return m_session.comPort() != Rfc2217Session::Offer::Pending; },
                       kAnswerMs)) {
            if (m_eof) {
                const std::string why = m_lastError;
                sio_close(port);
                m_lastError = why;
                return SIO_OPENFAIL;
            }
            // Connected, but no Telnet answer: sio_ioctl reports it.
        }
    }
    return SIO_OK;
}

int NetworkSerialPort::sio_close(int port) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (!m_eof) {
        // Bytes already taken by sio_putch still go out. Then the connection
        // ends with FIN once the server has closed its side: closing with
        // unread input would end it with RST, and a server that gets RST
        // drops what it has not yet put on the line (the end of a program).
        const std::int64_t deadline = LinePacer::nowUs() + kCloseMs * 1000LL;
        auto left = [&] {
            return static_cast<int>(std::max<std::int64_t>(0, deadline - LinePacer::nowUs()) /
                                    1000);
        };
        while (!m_pending.empty() && sendPending() == SIO_OK && left() > 0) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, left());
        }
        // A server may discard what is still in its line's queue when the
        // connection ends: give the line the time to carry the last
        // characters, one more for the way there.
        if (m_pacer.paced()) {
            const std::int64_t now = LinePacer::nowUs();
            const std::int64_t drained = now + (m_pacer.queued(now) + 1) * m_pacer.characterUs();
            LinePacer::sleepUs(std::min(drained, deadline) - now);
        }
        ::shutdown(m_fd, SHUT_WR);
        char discard[kReadPiece];
        while (left() > 0) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, left()) <= 0) break;
            ssize_t n = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
        }
    }
    ::close(m_fd);
    m_fd = -1;
    m_port = 0;
    m_input.clear();
    m_pending.clear();
    return SIO_OK;
}

int NetworkSerialPort::sendPending() {
    while (!m_pending.empty()) {
        ssize_t n = ::send(m_fd, m_pending.data(), m_pending.size(), MSG_NOSIGNAL);
        if (n > 0) {
            m_pending.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return SIO_OK;
        return lost(std::string("connection lost: ") + std::strerror(errno));
    }
    return SIO_OK;
}

int NetworkSerialPort::pump() {
    if (m_eof) return SIO_PORTLOST;
    char piece[kReadPiece];
    for (int rounds = 0; rounds < 4; ++rounds) {
        ssize_t n = ::recv(m_fd, piece, sizeof piece, MSG_DONTWAIT);
        if (n == 0) return lost("the device server closed the connection");
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return lost(std::string("connection lost: ") + std::strerror(errno));
        }
        const std::string_view bytes(piece, static_cast<size_t>(n));
        if (telnet())
            m_session.receive(bytes, m_input, m_pending);
        else
            m_input.append(bytes);
        if (static_cast<size_t>(n) < sizeof piece) break;
    }
    // Answers to the server's requests go out at once.
    return sendPending();
}

template <typename Done>
bool NetworkSerialPort::pumpUntil(Done done, int timeoutMs) {
    const std::int64_t deadline = LinePacer::nowUs() + timeoutMs * 1000LL;
    for (;;) {
        if (pump() != SIO_OK) return false;
        if (done()) return true;
        const std::int64_t left = deadline - LinePacer::nowUs();
        if (left <= 0) return false;
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>((left + 999) / 1000));
    }
}

int NetworkSerialPort::sendControl(std::uint8_t value) {
    Rfc2217Session::appendCommand(Rfc2217Session::kSetControl, value, m_pending);
    return sendPending();
}

int NetworkSerialPort::sio_ioctl(int port, int baud, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    LineSettings line;
    if (!decodeLineSettings(baud, mode, line)) {
        m_lastError = m_device.endpoint() + ": unknown line setting (baud code " +
                      std::to_string(baud) + ", mode " + std::to_string(mode) + ")";
        return SIO_BADPARM;
    }
    m_pacer.setLine(line.baud, bitsPerCharacter(line.dataBits, line.parity != 'n', line.stopBits));
    if (!telnet()) return m_eof ? SIO_PORTLOST : SIO_OK;

    const std::string where = m_device.endpoint();
    if (m_session.comPort() != Rfc2217Session::Offer::Accepted) {
        m_lastError = where + (m_session.comPort() == Rfc2217Session::Offer::Refused
                                   ? ": the device server refuses COM port control (RFC 2217)"
                                   : ": no Telnet COM port control (RFC 2217) answers here; for a "
                                     "raw TCP port use tcp://");
        return SIO_FAIL;
    }
    m_session.clearAnswers();
    // Flow control first: a server answers in order, so once the line
    // settings are answered a missing flow control answer is not coming.
    Rfc2217Session::appendCommand(Rfc2217Session::kSetControl, Rfc2217Session::kNoFlowControl,
                                  m_pending);
    Rfc2217Session::appendBaudRate(static_cast<std::uint32_t>(line.baud), m_pending);
    Rfc2217Session::appendCommand(Rfc2217Session::kSetDataSize,
                                  static_cast<std::uint8_t>(line.dataBits), m_pending);
    Rfc2217Session::appendCommand(Rfc2217Session::kSetParity, parityCode(line.parity), m_pending);
    Rfc2217Session::appendCommand(Rfc2217Session::kSetStopSize,
                                  static_cast<std::uint8_t>(line.stopBits), m_pending);
    Rfc2217Session::appendCommand(Rfc2217Session::kSetModemStateMask,
                                  Rfc2217Session::kModemCd | Rfc2217Session::kModemRi |
                                      Rfc2217Session::kModemDsr | Rfc2217Session::kModemCts,
                                  m_pending);
    if (sendPending() != SIO_OK) return SIO_PORTLOST;
    const auto& a = m_session.answers();
    const bool answered =
        pumpUntil([&] { return a.baudRate && a.dataSize && a.parity && a.stopSize; }, kAnswerMs);
    if (m_eof) return SIO_PORTLOST;
    if (!answered) {
        m_lastError = where + ": the device server did not answer the line settings within " +
                      std::to_string(kAnswerMs) + " ms";
        return SIO_FAIL;
    }
    std::string refused;
    auto differs = [&](const std::string& asked, const std::string& set) {
        if (asked != set) refused += (refused.empty() ? "" : ", ") + asked + " set as " + set;
    };
    differs(std::to_string(line.baud) + " baud", std::to_string(*a.baudRate) + " baud");
    differs(std::to_string(line.dataBits) + " data bits",
            std::to_string(*a.dataSize) + " data bits");
    differs(std::string("parity ") + parityName(parityCode(line.parity)),
            std::string("parity ") + parityName(*a.parity));
    differs(std::to_string(line.stopBits) + " stop bits",
            std::to_string(*a.stopSize) + " stop bits");
    if (!refused.empty()) {
        m_lastError = where + ": the device server refused the line setting: " + refused;
        return SIO_FAIL;
    }
    if (!a.control) pumpUntil([&] { return a.control.has_value(); }, kControlGraceMs);
    if (m_eof) return SIO_PORTLOST;
    if (a.control && *a.control != Rfc2217Session::kNoFlowControl) {
        m_lastError = where + ": the device server keeps flow control " +
                      std::to_string(*a.control) + " instead of none";
        return SIO_FAIL;
    }
    return SIO_OK;
}

int NetworkSerialPort::sio_flowctrl(int port, int /*mode*/) {
    // Set to none with the line settings: the engines carry out the handshake.
    return isOpen(port) ? SIO_OK : SIO_BADPORT;
}

int NetworkSerialPort::sio_DTR(int port, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (!telnet()) return m_eof ? SIO_PORTLOST : SIO_OK;
    return sendControl(mode ? Rfc2217Session::kDtrOn : Rfc2217Session::kDtrOff);
}

int NetworkSerialPort::sio_RTS(int port, int mode) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (!telnet()) return m_eof ? SIO_PORTLOST : SIO_OK;
    return sendControl(mode ? Rfc2217Session::kRtsOn : Rfc2217Session::kRtsOff);
}

int NetworkSerialPort::sio_flush(int port, int func) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (telnet()) {
        const std::uint8_t what = func == FLUSH_INPUT ? 1 : func == FLUSH_OUTPUT ? 2 : 3;
        Rfc2217Session::appendCommand(Rfc2217Session::kPurgeData, what, m_pending);
    }
    if (func != FLUSH_OUTPUT) {
        pump();
        m_input.clear();
    }
    if (func != FLUSH_INPUT) m_pacer.reset();
    return sendPending() == SIO_OK && !m_eof ? SIO_OK : SIO_PORTLOST;
}

int NetworkSerialPort::sio_putch(int port, int term) {
    if (!isOpen(port)) return SIO_BADPORT;
    // A connection gone with data still unread: the reader takes that first
    // (the text received before the loss is kept), then the loss shows.
    if (m_eof || sendPending() != SIO_OK) return m_input.empty() ? SIO_PORTLOST : SIO_WRITETIMEOUT;
    if (!m_pending.empty()) return SIO_WRITETIMEOUT;  // the connection takes nothing now
    if (telnet() && m_session.suspended()) {
        if (pump() != SIO_OK && m_input.empty()) return SIO_PORTLOST;
        if (m_session.suspended()) return SIO_WRITETIMEOUT;
    }
    if (!m_pacer.takeTurn(m_writesWait ? kPaceWaitUs : 0)) return SIO_WRITETIMEOUT;
    const auto byte = static_cast<std::uint8_t>(term);
    if (telnet())
        m_session.appendData(byte, m_pending);
    else
        m_pending.push_back(static_cast<char>(byte));
    m_pacer.wroteNow();
    // The byte is committed: what the socket does not take now goes first
    // next time.
    return sendPending() == SIO_OK ? SIO_OK : SIO_PORTLOST;
}

int NetworkSerialPort::sio_read(int port, char* buf, int len) {
    if (!isOpen(port)) return SIO_BADPORT;
    if (len > kReadBufferSize) len = kReadBufferSize;
    if (len <= 0) return 0;
    if (m_input.size() < static_cast<size_t>(len)) pump();
    const size_t n = std::min(m_input.size(), static_cast<size_t>(len));
    if (n > 0) {
        std::memcpy(buf, m_input.data(), n);
        m_input.erase(0, n);
        return static_cast<int>(n);
    }
    return m_eof ? SIO_PORTLOST : 0;
}

int NetworkSerialPort::sio_lstatus(int port) {
    if (!isOpen(port)) return SIO_BADPORT;
    pump();
    if (m_eof && m_input.empty()) return SIO_PORTLOST;
    if (telnet() && m_session.modemState())
        return lineStatusFromModemState(*m_session.modemState());
    return S_DSR | S_CTS;
}

void NetworkSerialPort::waitForInput(int timeoutMs) {
    if (m_fd < 0 || !m_input.empty() || m_eof) return;
    pollfd p{m_fd, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
}

}  // namespace fbx
