#include <gtest/gtest.h>

#include "MemorySerialPort.h"
#include "PollPort.h"

using namespace fbx;

TEST(PollPort, DC3AndDC1InOneReadBothOrders) {
    MemorySerialPort port;
    PollState s;
    port.queueInput({'x', kDC3, 'y', kDC1});
    EXPECT_EQ(PollPort(port, 1, false, s), 4);
    EXPECT_EQ(s.xoffHold, 0);
    EXPECT_EQ(s.startSignal, 1);
    EXPECT_EQ(s.lastByteRead, kDC1);

    PollState t;
    port.queueInput({kDC1, kDC3});
    PollPort(port, 1, false, t);
    EXPECT_EQ(t.xoffHold, 1);
    EXPECT_EQ(t.startSignal, 1);
}

TEST(PollPort, OneLookTakesAtMost512Bytes) {
    MemorySerialPort port;
    PollState s;
    std::string input(600, 'a');
    input[599] = static_cast<char>(kDC3);
    port.queueInput(input);
    EXPECT_EQ(PollPort(port, 1, false, s), 512);
    EXPECT_EQ(s.xoffHold, 0);
    EXPECT_EQ(PollPort(port, 1, false, s), 88);
    EXPECT_EQ(s.xoffHold, 1);
    EXPECT_EQ(PollPort(port, 1, false, s), 0);
}

TEST(PollPort, DsrIsReadOnlyWithBrix) {
    MemorySerialPort port;
    port.dsr = false;
    PollState s;
    PollPort(port, 1, false, s);
    EXPECT_EQ(port.lineStatusReads, 0);
    EXPECT_EQ(s.lineHold, 0);
    PollPort(port, 1, true, s);
    EXPECT_EQ(port.lineStatusReads, 1);
    EXPECT_EQ(s.lineHold, 1);
    port.dsr = true;
    PollPort(port, 1, true, s);
    EXPECT_EQ(s.lineHold, 0);
    // A line status that cannot be read is no DSR: the line stays held.
    port.lineStatusError = SIO_FAIL;
    PollPort(port, 1, true, s);
    EXPECT_EQ(s.lineHold, 1);
}

TEST(PollPort, ALostPortIsReportedNotTakenForSilence) {
    MemorySerialPort port;
    PollState s;
    port.pullCable();
    EXPECT_EQ(PollPort(port, 1, false, s), SIO_PORTLOST);
}

TEST(OpenPort, SequenceAndFailures) {
    SerialCodes codes{1, 12, 24, 2, 4};
    MemorySerialPort ok;
    EXPECT_EQ(openPort(ok, codes), OpenFailure::None);
    using C = MemorySerialPort::Call;
    EXPECT_EQ(ok.calls, (std::vector<C>{{"open", 1}, {"DTR", 1}, {"RTS", 1}, {"ioctl", 12, 30},
                                        {"flowctrl", 0}}));

    MemorySerialPort noPort;
    noPort.openResult = SIO_OPENFAIL;
    EXPECT_EQ(openPort(noPort, codes), OpenFailure::PortError);
    EXPECT_EQ(noPort.calls, (std::vector<C>{{"open", 1}, {"close", 1}}));

    MemorySerialPort refused;
    refused.ioctlResult = SIO_BADPARM;
    EXPECT_EQ(openPort(refused, codes), OpenFailure::SettingError);
    EXPECT_EQ(refused.calls.back(), (C{"ioctl", 12, 30}));
}
