#include <gtest/gtest.h>

#include "LinePacer.h"

using namespace fbx;

// A writer that writes whenever the pacer lets it, for one simulated second,
// never runs more than four characters ahead of the line and keeps the line
// busy: the machine gets the line's rate, not more and not less.
TEST(LinePacer, KeepsAtMostFourAheadAtTheLinesRate) {
    struct Case {
        int baud, bits;
    };
    for (Case c : {Case{9600, 10}, Case{9600, 11}, Case{1200, 11}, Case{57600, 10}}) {
        SCOPED_TRACE(testing::Message() << c.baud << " baud, " << c.bits << " bits");
        LinePacer pacer;
        pacer.setLine(c.baud, c.bits);
        const std::int64_t charUs = 1000000LL * c.bits / c.baud;
        ASSERT_EQ(pacer.characterUs(), charUs);

        std::int64_t now = 5000000;  // any start; the pacer has no past
        long written = 0;
        int mostQueued = 0;
        while (now < 6000000) {
            const std::int64_t wait = pacer.waitUs(now);
            if (wait > 0) {
                now += wait;
                continue;
            }
            pacer.wrote(now);
            ++written;
            mostQueued = std::max(mostQueued, pacer.queued(now));
            now += 7;  // a writer far faster than any line
        }
        EXPECT_EQ(mostQueued, LinePacer::kAhead);
        const long lineRate = 1000000L / charUs;
        EXPECT_GE(written, lineRate);
        EXPECT_LE(written, lineRate + LinePacer::kAhead + 1);
    }
}

TEST(LinePacer, DiscardedOutputAndAnUnpacedLineWaitForNothing) {
    LinePacer pacer;
    EXPECT_FALSE(pacer.paced());
    for (int i = 0; i < 100; ++i) pacer.wrote(1000);
    EXPECT_EQ(pacer.waitUs(1000), 0);

    pacer.setLine(1200, 11);
    for (int i = 0; i < LinePacer::kAhead; ++i) {
        ASSERT_EQ(pacer.waitUs(1000), 0) << i;
        pacer.wrote(1000);
    }
    EXPECT_GT(pacer.waitUs(1000), 0);
    // After a quiet spell the line is empty again: no credit is saved up.
    EXPECT_EQ(pacer.queued(1000 + 10 * pacer.characterUs()), 0);
    pacer.wrote(1000 + 10 * pacer.characterUs());
    EXPECT_EQ(pacer.queued(1000 + 10 * pacer.characterUs()), 1);
    pacer.reset();
    EXPECT_EQ(pacer.waitUs(1000), 0);
}
