#pragma once

#include <cstdint>

namespace fbx {

// Keeps writes at the pace of the line they go out on, for links that would
// otherwise swallow a whole program at once (a pseudo-terminal, a TCP
// connection to a device server). The line carries one character per
// character time (start, data, parity and stop bits at the baud rate); a
// character written counts as queued until the line would have sent its last
// bit. At most kAhead characters are ever queued, so that when the machine
// sends DC3 no more than that many are still on their way to it.
//
// Times are microseconds on a monotonic clock; the caller supplies them, so
// the arithmetic can be tested without waiting. One thread.
class LinePacer {
public:
    static constexpr int kAhead = 4;

    // baud 0 turns pacing off: every write may go at once.
    void setLine(int baud, int bitsPerCharacter);
    bool paced() const { return m_charUs > 0; }
    std::int64_t characterUs() const { return m_charUs; }

    // Microseconds until one more character may be written (0: now).
    std::int64_t waitUs(std::int64_t nowUs) const;
    // One character was written at nowUs.
    void wrote(std::int64_t nowUs);
    // Milliseconds (at least 1) until all but one of the queued characters
    // are through, when there is no room now; else 0. A host that never
    // waits in a write tries again then and finds room for several.
    int roomInMs(std::int64_t nowUs) const;
    // Characters still queued on the line at nowUs.
    int queued(std::int64_t nowUs) const;
    // The output was discarded: nothing is queued any more.
    void reset() { m_busyUntilUs = 0; }

    // With the system's monotonic clock: waits for room when it comes within
    // maxWaitUs and returns true, else returns false at once (the caller
    // answers "not sent, try again"). Never waits longer than maxWaitUs.
    bool takeTurn(std::int64_t maxWaitUs);
    // wrote() at the system's monotonic clock.
    void wroteNow();

    static std::int64_t nowUs();
    // Sleeps us microseconds (none when not positive).
    static void sleepUs(std::int64_t us);

private:
    std::int64_t m_charUs = 0;
    std::int64_t m_busyUntilUs = 0;  // when the last queued character is through
};

// Bits one character takes on the line: start, data, parity, stop.
inline int bitsPerCharacter(int dataBits, bool parity, int stopBits) {
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

}  // namespace fbx
