#pragma once

#include "MachineLine.h"
#include "MachineOptions.h"
#include "Summary.h"

namespace fbx::machine {

// The controller's input buffer, in whole bytes: bytes read from the line go
// in, the controller takes them out one by one at drainPerSecond (0: as they
// arrive, so the buffer never fills unless frozen). Frozen, it takes nothing
// out any more.
class InputBuffer {
public:
    InputBuffer(long size, long drainPerSecond, double now)
        : m_size(size), m_drain(drainPerSecond), m_last(now) {}

    void advance(double now);  // takes out what the controller consumed since the last call
    void add(long bytes);
    void freeze() { m_frozen = true; }

    long fill() const { return m_fill; }
    long space() const { return m_size - m_fill; }
    bool drains() const { return !m_frozen && m_drain > 0; }
    // Seconds until the fill has dropped to level (0 when it already has,
    // a large number when it never will).
    double secondsUntilFill(long level) const;

private:
    long m_size;
    long m_drain;
    long m_fill = 0;
    double m_progress = 0;  // consumption under way: the fraction of the next byte
    double m_last;
    bool m_frozen = false;
};

// Plays a controller reading a program from the PC: see --help. Fills the
// summary and returns the exit code.
int RunReceive(const MachineOptions& options, MachineLine& line, Narrator& say,
               RunSummary& summary);

}  // namespace fbx::machine
