#include "PunchRole.h"

#include <poll.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "EiaCodes.h"
#include "Pacer.h"
#include "PollPort.h"

namespace fbx::machine {

namespace {

constexpr int kLongestWaitMs = 250;
// Without a line speed the pty takes bytes as fast as they come; writing in
// small pieces, with a look at the PC's bytes before each, keeps a DC3 from
// the PC effective within one piece.
constexpr std::size_t kWritePiece = 64;
// Closing the master throws away whatever the PC has not read yet, where a
// wire would have delivered every byte sent before the cut: the cable is
// pulled only after the last byte has had this long to arrive.
constexpr double kPullDelaySeconds = 0.2;

int msUntil(double then, double now) {
    if (then <= now) return 0;
    return static_cast<int>(std::min(1e6, std::ceil((then - now) * 1000.0)));
}

// Reads whatever the PC has sent: DC3 holds the punch, DC1 releases it.
// Returns the count read, or -1 when the PC has closed the line.
long takePcBytes(MachineLine& line, bool& held, Narrator& say, RunSummary& s) {
    std::uint8_t in[512];
    long total = 0;
    for (;;) {
        long n = line.read(in, sizeof in);
        if (n < 0) return -1;
        if (n == 0) return total;
        total += n;
        for (long i = 0; i < n; ++i) {
            if (in[i] == kDC3) {
                ++s.dc3Received;
                if (!held) say.say("DC3 from the PC at byte %lld: holding", s.bytesSent);
                held = true;
            } else if (in[i] == kDC1) {
                ++s.dc1Received;
                if (held) say.say("DC1 from the PC at byte %lld: going on", s.bytesSent);
                held = false;
            } else {
                ++s.otherReceived;
            }
        }
    }
}

// A program file read whole; a file that cannot be opened is told.
bool readProgram(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        Narrator::error("%s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

}  // namespace

std::vector<std::uint8_t> PunchBytes(const std::string& program, bool eia, long leader) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(leader), 0);
    out.reserve(out.size() + program.size());
    for (char c : program) {
        auto code = static_cast<std::uint8_t>(c);
        if (!eia) {
            out.push_back(code);
        } else if (code == '\n') {
            out.push_back(0x80);
        } else if (code != '\r') {
            out.push_back(fbx::ToEiaCode(code, true));
        }
    }
    return out;
}

int RunPunch(const MachineOptions& o, MachineLine& line, Narrator& say, RunSummary& s) {
    s.role = "punch";
    std::string program;
    if (!readProgram(o.programFile, program)) {
        s.end = "error";
        return kExitError;
    }
    std::vector<std::uint8_t> tape = PunchBytes(program, o.eia, o.leader);
    say.say("punch: %s, %zu bytes in %s code with %ld leader bytes", o.programFile.c_str(),
            program.size(), o.eia ? "EIA" : "ISO", o.leader);
    // Further programs follow on the same tape, each after a gap: where each
    // one ends.
    std::vector<std::size_t> programEnds{tape.size()};
    for (const MachineOptions::NextProgram& next : o.nextPrograms) {
        std::string text;
        if (!readProgram(next.file, text)) {
            s.end = "error";
            return kExitError;
        }
        const std::vector<std::uint8_t> bytes = PunchBytes(text, next.eia, o.leader);
        tape.insert(tape.end(), bytes.begin(), bytes.end());
        programEnds.push_back(tape.size());
        say.say("then: %s, %zu bytes in %s code", next.file.c_str(), text.size(),
                next.eia ? "EIA" : "ISO");
    }
    std::size_t nextEnd = 0;  // index in programEnds of the program being punched
    s.bytesToSend = static_cast<long long>(tape.size());

    say.say("waiting for the PC to open the line");
    if (!line.waitForPcOpen(o.idle)) {
        s.end = StopSignal() ? "interrupted" : "idle";
        return StopSignal() ? kExitInterrupted : kExitIncomplete;
    }
    double now = MonotonicSeconds();
    say.say("PC opened the line; punching in %.1f s", o.wait);

    bool held = false;
    const double startAt = now + o.wait;
    double lastMoveAt = startAt;  // --idle counts from the operator's press
    Pacer pacer(o.bytesPerSecond(), startAt);
    double burstEndsAt = 0;  // end of the pause after a full chunk
    long long inChunk = 0;
    std::size_t position = 0;
    bool reportedDone = false;
    double pullAt = -1;
    double readAt = -1;  // --then-receive: when the reading begins

    auto finish = [&](const char* end, int code) {
        s.end = end;
        s.complete = position == tape.size();
        return code;
    };

    for (;;) {
        if (StopSignal()) return finish("interrupted", kExitInterrupted);
        const long fromPc = takePcBytes(line, held, say, s);
        if (fromPc < 0) {
            say.say("PC closed the line");
            if (position == tape.size() || s.stalled) return finish("pc-closed", kExitDone);
            say.say("the PC closed the line with %zu of %zu bytes punched", position, tape.size());
            return finish("pc-closed", kExitIncomplete);
        }
        now = MonotonicSeconds();
        if (fromPc > 0) lastMoveAt = now;
        if (o.pullAfter >= 0 && s.bytesSent >= o.pullAfter) {
            if (pullAt < 0) pullAt = now + kPullDelaySeconds;
            if (now >= pullAt) {
                say.say("pulling the cable after %lld bytes", s.bytesSent);
                line.close();
                return finish("pulled", kExitPulled);
            }
        }
        if (o.stallAfter >= 0 && !s.stalled && s.bytesSent >= o.stallAfter &&
            position < tape.size()) {
            s.stalled = true;
            say.say("stalled after %lld bytes: nothing more will be punched", s.bytesSent);
        }
        const bool done = position == tape.size() || s.stalled || pullAt >= 0;
        if (done && !reportedDone && position == tape.size()) {
            reportedDone = true;
            if (o.thenReceive) {
                // The operator switches the control from punching to reading:
                // what the PC still says meanwhile belongs to the punch.
                say.say("punched all %zu bytes; reading from the PC in %.1f s", tape.size(),
                        o.gap);
                readAt = now + o.gap;
            }
            say.say("punched all %zu bytes; waiting for the PC to close the line", tape.size());
        }
        if (readAt >= 0 && now >= readAt) return finish("punched", kExitDone);
        if (nextEnd + 1 < programEnds.size() && position == programEnds[nextEnd]) {
            ++nextEnd;
            burstEndsAt = now + o.gap;
            say.say("program %zu punched; the next in %.1f s", nextEnd, o.gap);
        }
        if (o.idle > 0 && now - lastMoveAt >= o.idle) {
            say.say("no byte for %.1f s: ending", o.idle);
            return finish("idle",
                          position == tape.size() || s.stalled ? kExitDone : kExitIncomplete);
        }

        // What may go out now, and otherwise how long to wait for the PC.
        std::size_t may = 0;
        int timeout = kLongestWaitMs;
        if (!done && !held) {
            if (now < startAt) {
                timeout = msUntil(startAt, now);
            } else if (now < burstEndsAt) {
                timeout = msUntil(burstEndsAt, now);
            } else {
                may = std::min(tape.size() - position, pacer.allowance(now));
                if (pacer.unlimited()) may = std::min(may, kWritePiece);
                if (o.chunk > 0) may = std::min<std::size_t>(may, o.chunk - inChunk);
                may = std::min(may, programEnds[nextEnd] - position);
                if (o.pullAfter >= 0) may = std::min<std::size_t>(may, o.pullAfter - s.bytesSent);
                if (o.stallAfter >= 0) may = std::min<std::size_t>(may, o.stallAfter - s.bytesSent);
                if (may == 0) timeout = pacer.msUntilNext();
            }
        }
        if (o.idle > 0) timeout = std::min(timeout, msUntil(lastMoveAt + o.idle, now));
        if (pullAt >= 0) timeout = std::min(timeout, std::max(1, msUntil(pullAt, now)));
        if (readAt >= 0) timeout = std::min(timeout, std::max(1, msUntil(readAt, now)));

        if (may > 0) {
            long n = line.write(tape.data() + position, may);
            if (n > 0) {
                s.crc.update(tape.data() + position, static_cast<std::size_t>(n));
                position += static_cast<std::size_t>(n);
                s.bytesSent += n;
                pacer.consume(static_cast<std::size_t>(n));
                now = MonotonicSeconds();
                lastMoveAt = now;
                s.noteByteMoved(now);
                if (o.chunk > 0 && (inChunk += n) >= o.chunk) {
                    inChunk = 0;
                    burstEndsAt = now + o.pauseMs / 1000.0;
                }
                continue;  // the PC's bytes are looked at before the next piece
            }
            // n 0: the pty's queue is full, the PC is not reading: wait for
            // room. n -1: the line is gone, which the next look at it reports.
            line.wait(n == 0 ? POLLIN | POLLOUT : POLLIN, std::max(timeout, 1));
            continue;
        }
        line.wait(POLLIN, std::max(timeout, 0));
    }
}

}  // namespace fbx::machine
