#pragma once

#include <chrono>
#include <cstdint>

namespace fbx {

// Monotonic milliseconds. The engines read time only through this, so that a
// test can drive the statistics and the timers deterministically.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() const = 0;
};

class SteadyClock : public Clock {
public:
    std::int64_t nowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

// A clock that moves only when told to.
class FakeClock : public Clock {
public:
    std::int64_t nowMs() const override { return m_now; }
    void advance(std::int64_t ms) { m_now += ms; }
    void set(std::int64_t ms) { m_now = ms; }

private:
    std::int64_t m_now = 1000000;
};

}  // namespace fbx
