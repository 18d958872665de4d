// The line a machine keeps while engines come and go on it: engines do not
// reset it, an answer waits for the machine's DC1, and a machine that sends
// faster than its programs are taken is held. (That a reception reads through
// its closing mark and no further, the shop host's suite proves.)

#include <gtest/gtest.h>

#include "EiaCodes.h"
#include "LineKeeper.h"
#include "MemorySerialPort.h"
#include "PollPort.h"
#include "ReceiveEngine.h"
#include "ReceivedFile.h"
#include "RecordingView.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

std::array<bool, 256> isoMarks() {
    std::array<bool, 256> marks{};
    marks['%'] = true;
    return marks;
}

// 9600 baud, even parity, 7 data bits, 2 stop bits on port 1.
const SerialCodes kLine{1, 12, 24, 2, 4};

class LineKeeperTest : public ::testing::Test {
protected:
    LineKeeperTest() {
        auto port = std::make_unique<MemorySerialPort>();
        line = port.get();
        keeper = std::make_unique<LineKeeper>(std::move(port), clock);
        EXPECT_TRUE(keeper->openLine(kLine));
        line->calls.clear();
    }
    std::string read(int len = kReadBufferSize) {
        char buffer[kReadBufferSize];
        int n = keeper->sio_read(1, buffer, len);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
    FakeClock clock;
    MemorySerialPort* line = nullptr;
    std::unique_ptr<LineKeeper> keeper;
};

TEST_F(LineKeeperTest, AnEngineComingAndGoingLeavesTheLineAndItsBytesAlone) {
    test::TempDir dir;
    ReceivedFile(dir.file("r.nc")).prepare();
    Settings settings;
    line->queueInput("%\r\nO1\r\n%");
    ASSERT_TRUE(keeper->pull());
    {
        test::RecordingView view;
        ReceiveEngine engine(*keeper, clock, view, settings, kLine);
        ASSERT_TRUE(engine.open(dir.file("r.nc")));
        engine.quitPressed();
        for (int i = 0; i < 300 && !engine.closed(); ++i) {
            clock.advance(10);
            engine.step();
        }
        ASSERT_TRUE(engine.closed());
    }
    // Neither the engine's flush nor its close reached the line, and the
    // same parameters were not set again.
    for (const MemorySerialPort::Call& call : line->calls) {
        EXPECT_NE(call.op, "flush");
        EXPECT_NE(call.op, "close");
        EXPECT_NE(call.op, "ioctl");
    }
    EXPECT_TRUE(line->open);
    EXPECT_EQ(keeper->held(), "%\r\nO1\r\n%");
}

TEST_F(LineKeeperTest, AnAnswerWaitingForDc1LeavesAPunchedProgramOnTheLine) {
    keeper->beginEngine(LineKeeper::Limit::BeforeProgramStart, isoMarks());
    line->queueInput({0, 0, '%', '\r', '\n'});
    PollState poll;
    PollPort(*keeper, 1, false, poll);
    EXPECT_TRUE(keeper->limitReached());
    EXPECT_EQ(poll.startSignal, 0);
    EXPECT_EQ(keeper->held(), "%\r\n");

    // Once the machine has said DC1 it reads; a "%" after it is its business.
    keeper->dropHeld(3);
    keeper->beginEngine(LineKeeper::Limit::BeforeProgramStart, isoMarks());
    line->queueInput({kDC1, '%', kDC3});
    PollPort(*keeper, 1, false, poll);
    EXPECT_FALSE(keeper->limitReached());
    EXPECT_EQ(poll.startSignal, 1);
    EXPECT_EQ(poll.xoffHold, 1);
}

TEST_F(LineKeeperTest, AMachineThatSendsFasterThanItsProgramsAreTakenIsHeldAtTheBound) {
    std::string flood;
    for (int i = 0; flood.size() < 3 * LineKeeper::kMaxHeld; ++i)
        flood += "%\r\nO" + std::to_string(i) + "\r\n%\r\n";
    for (size_t at = 0; at < flood.size(); at += kReadBufferSize)
        line->queueInput(std::string_view(flood).substr(at, kReadBufferSize));
    ASSERT_TRUE(keeper->pull(SIZE_MAX));
    EXPECT_LE(keeper->held().size(), LineKeeper::kMaxHeld + kReadBufferSize);
    EXPECT_EQ(line->written, std::string(1, kDC3));
    // An engine's DC1 does not let the machine go; taking half of it does.
    keeper->beginEngine(LineKeeper::Limit::None, isoMarks());
    EXPECT_EQ(keeper->sio_putch(1, kDC1), SIO_OK);
    std::string taken;
    while (keeper->held().size() > LineKeeper::kMaxHeld / 2 + kReadBufferSize) taken += read();
    EXPECT_EQ(line->written, std::string(1, kDC3));
    taken += read();
    EXPECT_EQ(line->written, (std::string{kDC3, kDC1}));
    // Nothing is lost on the way.
    while (keeper->pull(SIZE_MAX) && !keeper->held().empty()) taken += read();
    EXPECT_EQ(taken, flood);
}

}  // namespace
}  // namespace fbx::shop
