#pragma once

#include <cstddef>

namespace fbx::machine {

// Seconds on the monotonic clock.
double MonotonicSeconds();

// Paces a byte stream to an emulated line speed. Credit grows at
// bytesPerSecond and is capped at 20 ms worth (at least one byte), so a line
// that was quiet does not later deliver a burst faster than a wire could.
// bytesPerSecond 0 means no limit. Times are MonotonicSeconds values.
class Pacer {
public:
    Pacer(double bytesPerSecond, double now);

    bool unlimited() const { return m_rate <= 0; }
    // Whole bytes that may move now; a large number when unlimited.
    std::size_t allowance(double now);
    void consume(std::size_t bytes);
    // Milliseconds until one more byte may move (at least 1).
    int msUntilNext() const;

private:
    double m_rate;
    double m_cap;
    double m_credit = 0;
    double m_last;
};

}  // namespace fbx::machine
