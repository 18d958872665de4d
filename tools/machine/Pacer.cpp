#include "Pacer.h"

#include <time.h>
#include <algorithm>
#include <cmath>

namespace fbx::machine {

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

Pacer::Pacer(double bytesPerSecond, double now)
    : m_rate(bytesPerSecond), m_cap(std::max(1.0, bytesPerSecond * 0.020)), m_last(now) {}

std::size_t Pacer::allowance(double now) {
    if (unlimited()) return static_cast<std::size_t>(1) << 30;
    if (now > m_last) m_credit = std::min(m_cap, m_credit + (now - m_last) * m_rate);
    m_last = now;
    return static_cast<std::size_t>(m_credit + 1e-9);
}

void Pacer::consume(std::size_t bytes) {
    if (!unlimited()) m_credit -= static_cast<double>(bytes);
}

int Pacer::msUntilNext() const {
    if (unlimited() || m_credit >= 1.0) return 1;
    return std::max(1, static_cast<int>(std::ceil((1.0 - m_credit) / m_rate * 1000.0)));
}

}  // namespace fbx::machine
