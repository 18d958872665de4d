#include "ReceiveRole.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "Pacer.h"
#include "PollPort.h"

namespace fbx::machine {

namespace {

constexpr int kLongestWaitMs = 250;
constexpr std::size_t kReadPiece = 4096;

// Counts the dwell blocks of a DNC hold among the bytes received. No proper
// prefix of "G4X0.001" is also its suffix, so a mismatch restarts cleanly.
class DwellCounter {
public:
    void feed(const std::uint8_t* data, std::size_t n, long long& count) {
        static constexpr char kBlock[] = "G4X0.001";
        for (std::size_t i = 0; i < n; ++i) {
            if (data[i] == static_cast<std::uint8_t>(kBlock[m_matched])) {
                if (++m_matched == sizeof kBlock - 1) {
                    ++count;
                    m_matched = 0;
                }
            } else {
                m_matched = data[i] == 'G' ? 1 : 0;
            }
        }
    }

private:
    std::size_t m_matched = 0;
};

// Where received bytes are kept: the --out file, written as they arrive.
class StoreFile {
public:
    bool open(const std::string& path, std::string& error) {
        if (path.empty()) return true;
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd < 0) error = path + ": " + std::strerror(errno);
        return m_fd >= 0;
    }
    ~StoreFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool write(const std::uint8_t* data, std::size_t n) {
        while (m_fd >= 0 && n > 0) {
            ssize_t w = ::write(m_fd, data, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            data += w;
            n -= static_cast<std::size_t>(w);
        }
        return true;
    }

private:
    int m_fd = -1;
};

int msFor(double seconds) {
    if (seconds <= 0) return 0;
    return static_cast<int>(std::min(1e6, std::ceil(seconds * 1000.0)));
}

}  // namespace

void InputBuffer::advance(double now) {
    if (drains() && now > m_last) {
        m_progress += (now - m_last) * static_cast<double>(m_drain);
        long taken = std::min(m_fill, static_cast<long>(m_progress));
        m_fill -= taken;
        m_progress -= static_cast<double>(taken);
        // An empty buffer consumes nothing ahead.
        if (m_fill == 0) m_progress = std::min(m_progress, 1.0);
    }
    m_last = now;
}

void InputBuffer::add(long bytes) {
    m_fill += bytes;
    if (!m_frozen && m_drain == 0) m_fill = 0;
}

double InputBuffer::secondsUntilFill(long level) const {
    if (m_fill <= level) return 0;
    if (!drains()) return 1e9;
    return std::max(
        0.0, (static_cast<double>(m_fill - level) - m_progress) / static_cast<double>(m_drain));
}

int RunReceive(const MachineOptions& o, MachineLine& line, Narrator& say, RunSummary& s) {
    s.role = "receive";
    s.stored = o.out;
    StoreFile store;
    std::string error;
    if (!store.open(o.out, error)) {
        Narrator::error("%s", error.c_str());
        s.end = "error";
        return kExitError;
    }

    say.say("receive: waiting for the PC to open the line");
    if (!line.waitForPcOpen(o.idle)) {
        s.end = StopSignal() ? "interrupted" : "idle";
        return StopSignal() ? kExitInterrupted : kExitDone;
    }
    double now = MonotonicSeconds();
    say.say("PC opened the line");

    Pacer pacer(o.bytesPerSecond(), now);
    InputBuffer buffer(o.buffer, o.drain, now);
    DwellCounter dwell;
    std::vector<std::uint8_t> piece(kReadPiece);
    double startDc1At = o.startDc1 ? now + o.wait : -1;
    double lastByteAt = now;
    double lastDc1At = now;
    long long sinceStart = 0;  // bytes received since the last start signal
    bool xoff = false;  // a DC3 is out and its DC1 is not
    bool overflowCounted = false;
    bool pcClosed = false;

    auto sendControl = [&](std::uint8_t code) {
        if (!line.writeControl(code)) {
            say.say("could not send %s: the PC does not read the line",
                    code == kDC3 ? "DC3" : "DC1");
            return false;
        }
        ++(code == kDC3 ? s.dc3Sent : s.dc1Sent);
        if (code == kDC1) lastDc1At = MonotonicSeconds();
        return true;
    };
    auto sendDc3 = [&](const char* why) {
        // Taken before the DC3 goes out: the PC cannot have answered it yet.
        const long queued = line.queued();
        if (!sendControl(kDC3)) return;
        xoff = true;
        overflowCounted = false;
        s.readAfterDc3.push_back(0);
        s.queuedAtDc3.push_back(queued);
        say.say("DC3 sent at byte %lld (%s, buffer %ld of %ld)", s.bytesReceived, why,
                buffer.fill(), o.buffer);
    };

    for (;;) {
        if (StopSignal()) {
            s.end = "interrupted";
            return kExitInterrupted;
        }
        now = MonotonicSeconds();
        buffer.advance(now);

        if (o.pullAfter >= 0 && s.bytesReceived >= o.pullAfter) {
            say.say("pulling the cable after %lld bytes", s.bytesReceived);
            line.close();
            s.end = "pulled";
            return kExitPulled;
        }
        if (o.stallAfter >= 0 && !s.stalled && s.bytesReceived >= o.stallAfter) {
            s.stalled = true;
            buffer.freeze();
            if (!xoff && !pcClosed) sendDc3("stalling");
            say.say("stalled after %lld bytes: no DC1 will follow", s.bytesReceived);
        }
        if (xoff && !overflowCounted && !pcClosed && buffer.space() == 0 &&
            (line.wait(POLLIN, 0) & POLLIN)) {
            overflowCounted = true;
            ++s.overflow;
            say.say(
                "buffer full at byte %lld with the PC still sending: a controller would "
                "alarm here; reading paused, nothing lost",
                s.bytesReceived);
        }
        if (startDc1At >= 0 && now >= startDc1At) {
            startDc1At = -1;
            if (!pcClosed && sendControl(kDC1)) say.say("DC1 sent: start signal");
        }
        // A program ended or was abandoned, and the line has been quiet since:
        // the operator presses the read key again, as for a re-send.
        const double quietSince = std::max(lastByteAt, lastDc1At);
        if (o.startDc1 && startDc1At < 0 && sinceStart > 0 && !xoff && !pcClosed &&
            now - quietSince >= o.wait && sendControl(kDC1)) {
            sinceStart = 0;
            say.say("DC1 sent: start signal again, after %lld bytes and %.1f s of quiet",
                    s.bytesReceived, now - quietSince);
        }
        if (xoff && !s.stalled && buffer.fill() <= o.low) {
            if (pcClosed) {
                xoff = false;
            } else if (sendControl(kDC1)) {
                xoff = false;
                say.say(
                    "DC1 sent at byte %lld (buffer %ld of %ld; %lld bytes read after the DC3, "
                    "%ld of them on the line when it went out)",
                    s.bytesReceived, buffer.fill(), o.buffer, s.readAfterDc3.back(),
                    static_cast<long>(s.queuedAtDc3.back()));
            }
        }
        if (o.idle > 0 && now - lastByteAt >= o.idle) {
            say.say("no byte for %.1f s: ending", o.idle);
            s.end = "idle";
            return kExitDone;
        }

        // How much may be read now: what fits, what the line speed allows,
        // and no further than the next byte count at which the machine acts.
        long long want = std::min<long long>(buffer.space(), kReadPiece);
        want = std::min<long long>(want, static_cast<long long>(pacer.allowance(now)));
        if (const long untilHigh = o.high - buffer.fill(); !xoff && !pcClosed && untilHigh > 0)
            want = std::min<long long>(want, untilHigh);
        if (o.stallAfter >= 0 && !s.stalled) want = std::min(want, o.stallAfter - s.bytesReceived);
        if (o.pullAfter >= 0) want = std::min(want, o.pullAfter - s.bytesReceived);

        int timeout = kLongestWaitMs;
        if (startDc1At >= 0) timeout = std::min(timeout, msFor(startDc1At - now));
        if (o.startDc1 && sinceStart > 0 && !xoff)
            timeout = std::min(timeout, msFor(std::max(lastByteAt, lastDc1At) + o.wait - now));
        if (xoff && !s.stalled) timeout = std::min(timeout, msFor(buffer.secondsUntilFill(o.low)));
        if (o.idle > 0) timeout = std::min(timeout, msFor(lastByteAt + o.idle - now));
        if (want <= 0) {
            if (buffer.space() == 0)
                timeout = std::min(timeout, msFor(buffer.secondsUntilFill(o.buffer - 1)));
            else
                timeout = std::min(timeout, pacer.msUntilNext());
        }
        timeout = std::max(timeout, 1);

        if (!pcClosed) {
            int r = line.wait(want > 0 ? POLLIN : 0, timeout);
            if (r < 0) continue;  // stop signal: handled at the top
            if (r & POLLHUP) {
                pcClosed = true;
                say.say("PC closed the line");
            }
            if (want <= 0 || !(r & (POLLIN | POLLHUP))) continue;
        } else if (want <= 0) {
            if (s.stalled && buffer.space() == 0) {
                s.end = "pc-closed";  // a stalled machine never reads the rest
                return kExitDone;
            }
            MachineLine::pause(timeout);
            continue;
        }

        long n = line.read(piece.data(), static_cast<std::size_t>(want));
        if (n < 0) {
            // The pty answers EIO only once every byte the PC wrote is read.
            if (!pcClosed) say.say("PC closed the line");
            say.say("every byte on the line read: %lld in all", s.bytesReceived);
            s.end = "pc-closed";
            return kExitDone;
        }
        if (n == 0) {
            if (pcClosed) MachineLine::pause(5);
            continue;
        }

        now = MonotonicSeconds();
        lastByteAt = now;
        s.noteByteMoved(now);
        pacer.consume(static_cast<std::size_t>(n));
        buffer.add(n);
        s.bytesReceived += n;
        s.crc.update(piece.data(), static_cast<std::size_t>(n));
        dwell.feed(piece.data(), static_cast<std::size_t>(n), s.dwellBlocks);
        sinceStart += n;
        if (xoff) s.readAfterDc3.back() += n;
        if (!store.write(piece.data(), static_cast<std::size_t>(n))) {
            Narrator::error("%s: %s", o.out.c_str(), std::strerror(errno));
            s.end = "error";
            return kExitError;
        }
        if (!xoff && !pcClosed && buffer.fill() >= o.high) sendDc3("high water");
    }
}

}  // namespace fbx::machine
