#include <gtest/gtest.h>

#include "MemorySerialPort.h"
#include "PollPort.h"

using namespace fbx;

TEST(PollPort, Dc3HoldsDc1ReleasesAndStartsWhateverTheOrderInARead) {
    MemorySerialPort port;
    PollState s;
    port.queueInput({'x', kDC3, 'y', kDC1});
    EXPECT_EQ(PollPort(port, 1, false, s), 4);
    EXPECT_EQ(s.xoffHold, 0);
    EXPECT_EQ(s.startSignal, 1);
    port.queueInput({kDC1, kDC3});
    PollPort(port, 1, false, s);
    EXPECT_EQ(s.xoffHold, 1);
    // One look takes at most 512 bytes: the DC3 behind them is seen next time.
    std::string input(600, 'a');
    input[599] = static_cast<char>(kDC1);
    port.queueInput(input);
    EXPECT_EQ(PollPort(port, 1, false, s), 512);
    EXPECT_EQ(s.xoffHold, 1);
    EXPECT_EQ(PollPort(port, 1, false, s), 88);
    EXPECT_EQ(s.xoffHold, 0);
    port.pullCable();
    EXPECT_EQ(PollPort(port, 1, false, s), SIO_PORTLOST);  // not taken for silence
}

// DSR is read only with "Brix"; a line status that cannot be read is no DSR.
TEST(PollPort, DsrHoldsOnlyWithBrix) {
    MemorySerialPort port;
    port.dsr = false;
    PollState s;
    PollPort(port, 1, false, s);
    EXPECT_EQ(port.lineStatusReads, 0);
    EXPECT_EQ(s.lineHold, 0);
    PollPort(port, 1, true, s);
    EXPECT_EQ(s.lineHold, 1);
    port.dsr = true;
    PollPort(port, 1, true, s);
    EXPECT_EQ(s.lineHold, 0);
    port.lineStatusError = SIO_FAIL;
    PollPort(port, 1, true, s);
    EXPECT_EQ(s.lineHold, 1);
}
