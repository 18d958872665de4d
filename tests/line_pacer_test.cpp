#include <gtest/gtest.h>

#include "LinePacer.h"

using namespace fbx;

// A writer that writes whenever the pacer lets it, for one simulated second,
// never runs more than four characters ahead of the line and keeps the line
// busy: the machine gets the line's rate, not more and not less. After a
// quiet spell no credit is saved up, and discarded output no longer counts.
TEST(LinePacer, KeepsAtMostFourAheadAtTheLinesRate) {
    for (auto [baud, bits] : {std::pair{9600, 10}, {9600, 11}, {1200, 11}, {57600, 10}}) {
        SCOPED_TRACE(testing::Message() << baud << " baud, " << bits << " bits");
        LinePacer pacer;
        pacer.setLine(baud, bits);
        const std::int64_t charUs = 1000000LL * bits / baud;
        ASSERT_EQ(pacer.characterUs(), charUs);
        std::int64_t now = 5000000;  // any start; the pacer has no past
        long written = 0;
        int mostQueued = 0;
        for (; now < 6000000; now += 7) {  // a writer far faster than any line
            if (const std::int64_t wait = pacer.waitUs(now); wait > 0) now += wait;
            pacer.wrote(now);
            ++written;
            mostQueued = std::max(mostQueued, pacer.queued(now));
        }
        EXPECT_EQ(mostQueued, LinePacer::kAhead);
        EXPECT_GE(written, 1000000L / charUs);
        EXPECT_LE(written, 1000000L / charUs + LinePacer::kAhead + 1);
        EXPECT_EQ(pacer.queued(now + 10 * charUs), 0);
        pacer.reset();
        EXPECT_EQ(pacer.waitUs(now), 0);
    }
}
