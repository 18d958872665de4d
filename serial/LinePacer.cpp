#include "LinePacer.h"

#include <time.h>
#include <algorithm>
#include <cerrno>

namespace fbx {

void LinePacer::setLine(int baud, int bitsPerCharacter) {
    m_charUs = baud > 0 && bitsPerCharacter > 0
                   ? std::max<std::int64_t>(1, 1000000LL * bitsPerCharacter / baud)
                   : 0;
    m_busyUntilUs = 0;
}

std::int64_t LinePacer::waitUs(std::int64_t nowUs) const {
    if (!paced()) return 0;
    // Room once the queue holds at most kAhead - 1 whole characters.
    return std::max<std::int64_t>(0, m_busyUntilUs - nowUs - (kAhead - 1) * m_charUs);
}

void LinePacer::wrote(std::int64_t nowUs) {
    if (!paced()) return;
    m_busyUntilUs = std::max(m_busyUntilUs, nowUs) + m_charUs;
}

int LinePacer::roomInMs(std::int64_t nowUs) const {
    if (waitUs(nowUs) == 0) return 0;
    return static_cast<int>(std::max<std::int64_t>(1, (m_busyUntilUs - nowUs - m_charUs) / 1000));
}

int LinePacer::queued(std::int64_t nowUs) const {
    if (!paced() || m_busyUntilUs <= nowUs) return 0;
    return static_cast<int>((m_busyUntilUs - nowUs + m_charUs - 1) / m_charUs);
}

std::int64_t LinePacer::nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void LinePacer::sleepUs(std::int64_t us) {
    if (us <= 0) return;
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
    }
}

bool LinePacer::takeTurn(std::int64_t maxWaitUs) {
    const std::int64_t wait = waitUs(nowUs());
    if (wait > maxWaitUs) return false;
    sleepUs(wait);
    return true;
}

void LinePacer::wroteNow() {
    wrote(nowUs());
}

}  // namespace fbx
