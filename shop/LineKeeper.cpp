#include "LineKeeper.h"

#include <algorithm>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "PollPort.h"

namespace fbx::shop {

namespace {
// The line is always port 1 of its serial port.
constexpr int kLinePort = 1;
}  // namespace

LineKeeper::LineKeeper(std::unique_ptr<SerialPort> line, const Clock& clock)
    : m_line(std::move(line)), m_clock(clock) {
    // The service's one thread never sleeps in a write: a paced line says
    // when it has room again instead.
    m_line->setWriteWaits(false);
}

LineKeeper::~LineKeeper() { closeLine(); }

bool LineKeeper::openLine(const SerialCodes& codes) {
    closeLine();
    m_lost = false;
    m_error.clear();
    if (m_line->sio_open(kLinePort) != SIO_OK) {
        m_error = m_line->lastError();
        m_line->sio_close(kLinePort);
        return false;
    }
    m_line->sio_DTR(kLinePort, 1);
    m_line->sio_RTS(kLinePort, 1);
    if (m_line->sio_ioctl(kLinePort, codes.baudCode, codes.modeWord()) != SIO_OK) {
        m_error = m_line->lastError();
        if (m_error.empty()) m_error = "the line parameters were refused";
        m_line->sio_close(kLinePort);
        return false;
    }
    m_line->sio_flowctrl(kLinePort, 0);
    m_baud = codes.baudCode;
    m_mode = codes.modeWord();
    m_open = true;
    return true;
}

void LineKeeper::closeLine() {
    if (m_open) m_line->sio_close(kLinePort);
    m_open = false;
    m_reading = true;
    m_machineHeld = false;
    m_held.clear();
    m_heldStart = 0;
    m_arrivals.clear();
    m_readTotal = 0;
}

std::string LineKeeper::lastError() const {
    if (!m_error.empty()) return m_error;
    return m_line->lastError();
}

int LineKeeper::track(int rc) {
    if (rc == SIO_PORTLOST) {
        m_lost = true;
        if (m_error.empty()) m_error = m_line->lastError();
    }
    return rc;
}

int LineKeeper::readLine() {
    if (!m_open || m_lost) return SIO_PORTLOST;
    if (!m_reading || held().size() >= kMaxHeld) return 0;
    char buffer[kReadBufferSize];
    const int n = track(m_line->sio_read(kLinePort, buffer, kReadBufferSize));
    if (n == SIO_PORTLOST) return n;
    if (n <= 0) return 0;
    m_held.append(buffer, static_cast<std::size_t>(n));
    m_lastInputMs = m_clock.nowMs();
    m_readTotal += n;
    m_arrivals.push_back({m_readTotal, m_lastInputMs});
    return n;
}

bool LineKeeper::pull(std::size_t maxBytes) {
    std::size_t taken = 0;
    while (taken < maxBytes) {
        const int n = readLine();
        if (n == SIO_PORTLOST) return false;
        if (n == 0) break;
        taken += static_cast<std::size_t>(n);
    }
    updateHold();
    return !m_lost;
}

void LineKeeper::updateHold() {
    const std::size_t size = held().size();
    const bool wanted = size >= kMaxHeld || (m_machineHeld && size > kMaxHeld / 2);
    if (wanted == m_machineHeld || !m_open || m_lost) return;
    // Tried again at the next pull or read when the line cannot take it now.
    if (!lineTakesByte() || track(m_line->sio_putch(kLinePort, wanted ? kDC3 : kDC1)) != SIO_OK)
        return;
    if (m_holdWithDtr) track(m_line->sio_DTR(kLinePort, wanted ? 0 : 1));
    m_machineHeld = wanted;
}

std::int64_t LineKeeper::arrivalMs(std::size_t index) const {
    const std::int64_t at =
        m_readTotal - static_cast<std::int64_t>(held().size()) + static_cast<std::int64_t>(index);
    for (const Arrival& a : m_arrivals) {
        if (at < a.end) return a.ms;
    }
    return -1;
}

void LineKeeper::dropHeld(std::size_t count) {
    m_heldStart = std::min(m_held.size(), m_heldStart + count);
    if (m_heldStart == m_held.size()) {
        m_held.clear();
        m_heldStart = 0;
    } else if (m_heldStart > 65536) {
        m_held.erase(0, m_heldStart);
        m_heldStart = 0;
    }
    const std::int64_t first = m_readTotal - static_cast<std::int64_t>(held().size());
    while (!m_arrivals.empty() && m_arrivals.front().end <= first) m_arrivals.pop_front();
    updateHold();
}

void LineKeeper::beginEngine(Limit limit, const std::array<bool, 256>& marks) {
    m_limit = limit;
    m_marks = marks;
    m_marksSeen = 0;
    m_dc1Seen = false;
    m_limitReached = false;
    m_bytesIn = m_bytesOut = 0;
    m_crcIn = Crc32{};
    m_crcOut = Crc32{};
    m_spanIn = m_spanOut = Span{};
}

int LineKeeper::sio_open(int) {
    // A lost line still gives what it held before it tells the loss.
    if (m_open && (!m_lost || !held().empty())) return SIO_OK;
    if (m_error.empty()) m_error = "the line is not open";
    return SIO_OPENFAIL;
}

int LineKeeper::sio_close(int) { return m_open ? SIO_OK : SIO_BADPORT; }

int LineKeeper::sio_ioctl(int, int baud, int mode) {
    if (!m_open) return SIO_BADPORT;
    if (baud == m_baud && mode == m_mode) return SIO_OK;
    const int rc = track(m_line->sio_ioctl(kLinePort, baud, mode));
    if (rc == SIO_OK) {
        m_baud = baud;
        m_mode = mode;
    }
    return rc;
}

int LineKeeper::sio_flowctrl(int, int) { return m_open ? SIO_OK : SIO_BADPORT; }

int LineKeeper::sio_DTR(int, int mode) {
    if (!m_open) return SIO_BADPORT;
    if (m_machineHeld && m_holdWithDtr && mode == 1) return SIO_OK;
    return track(m_line->sio_DTR(kLinePort, mode));
}

int LineKeeper::sio_RTS(int, int mode) {
    if (!m_open) return SIO_BADPORT;
    return track(m_line->sio_RTS(kLinePort, mode));
}

int LineKeeper::sio_flush(int, int) { return m_open ? SIO_OK : SIO_BADPORT; }

bool LineKeeper::lineTakesByte() const {
    const int fd = m_line->nativeHandle();
    if (fd < 0) return true;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1 && !(p.revents & POLLOUT)) {
        // A hang-up is for the write itself to report.
        return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    int queued = 0;
    if (isatty(fd) && ioctl(fd, TIOCOUTQ, &queued) == 0 && queued >= kQueuedOnLine) return false;
    return true;
}

int LineKeeper::sio_putch(int, int term) {
    if (!m_open) return SIO_BADPORT;
    if (m_lost) return SIO_PORTLOST;
    if (!lineTakesByte()) return SIO_WRITETIMEOUT;
    // The machine stays held while the keeper holds too much.
    if (m_machineHeld && term == kDC1) return SIO_OK;
    const int rc = track(m_line->sio_putch(kLinePort, term));
    if (rc == SIO_OK) {
        const char byte = static_cast<char>(term);
        ++m_bytesOut;
        m_crcOut.update(std::string_view(&byte, 1));
        m_spanOut.note(m_clock.nowMs());
    }
    return rc;
}

int LineKeeper::sio_read(int, char* buf, int len) {
    if (!m_open) return SIO_BADPORT;
    if (m_limitReached || len <= 0) return 0;
    if (held().empty()) {
        const int n = readLine();
        if (n == SIO_PORTLOST) return SIO_PORTLOST;
        if (n == 0) return 0;
    }
    const std::string_view waiting = held();
    const std::size_t offered = std::min(waiting.size(), static_cast<std::size_t>(len));
    std::size_t given = 0;
    for (; given < offered; ++given) {
        const auto byte = static_cast<std::uint8_t>(waiting[given]);
        if (m_limit == Limit::ThroughProgramEnd && m_marks[byte] && ++m_marksSeen == 2) {
            ++given;
            m_limitReached = true;
            break;
        }
        if (m_limit == Limit::BeforeProgramStart && !m_dc1Seen) {
            if (byte == kDC1) {
                m_dc1Seen = true;
            } else if (m_marks[byte]) {
                m_limitReached = true;
                break;
            }
        }
    }
    std::memcpy(buf, waiting.data(), given);
    if (given > 0) {
        m_bytesIn += static_cast<std::int64_t>(given);
        m_crcIn.update(waiting.substr(0, given));
        // Held bytes count from when they came off the line.
        m_spanIn.note(arrivalMs(0));
        m_spanIn.note(arrivalMs(given - 1));
    }
    dropHeld(given);
    return static_cast<int>(given);
}

int LineKeeper::sio_lstatus(int) {
    if (!m_open) return SIO_BADPORT;
    return track(m_line->sio_lstatus(kLinePort));
}

void LineKeeper::waitForInput(int timeoutMs) {
    if (!held().empty() || !m_open) return;
    m_line->waitForInput(timeoutMs);
}

}  // namespace fbx::shop
