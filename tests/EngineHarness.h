#pragma once

#include <functional>
#include <memory>
#include <string>

#include "MemorySerialPort.h"
#include "RecordingView.h"
#include "Settings.h"
#include "TransferEngine.h"

namespace fbx::test {

// An engine on an in-memory port, a fake clock (msPerStep a step) and a
// recording view.
template <typename Engine>
struct EngineHarness {
    MemorySerialPort port;
    FakeClock clock;
    RecordingView view;
    Settings settings;
    SerialCodes codes{1, 12, 24, 2, 4};
    std::unique_ptr<Engine> engine;
    std::int64_t msPerStep = 1;

    Engine& make() {
        engine = std::make_unique<Engine>(port, clock, view, settings, codes);
        return *engine;
    }
    void step(int times = 1) {
        for (int i = 0; i < times; ++i, clock.advance(msPerStep)) engine->step();
    }
    // Steps until done() holds; false when it did not within the limit.
    bool stepUntil(const std::function<bool()>& done, int limit = 200000) {
        for (int i = 0; i < limit && !done(); ++i) step();
        return done();
    }
    bool stepUntilWritten(const std::string& tail, int limit = 200000) {
        return stepUntil([&] { return port.written.ends_with(tail); }, limit);
    }
};

inline std::string repeat(const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
}

}  // namespace fbx::test
