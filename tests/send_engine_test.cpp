#include <gtest/gtest.h>

#include "EiaCodes.h"
#include "EngineHarness.h"
#include "SendEngine.h"
#include "Statistics.h"

using namespace fbx;
using fbx::test::repeat;
using Texts = std::vector<std::string>;

namespace {

const std::string kDwell = "G4X0.001\r\n";
const std::string kProgram = "G01 X10\r\nG01 X20\r\nM30\r\n";

struct Send : ::testing::Test, fbx::test::EngineHarness<SendEngine> {
    SendEngine& open(const std::string& text, const std::string& mode = "NOMAL") {
        settings.mode = mode;
        port.written.clear();
        port.onPut = nullptr;
        SendEngine& e = make();
        EXPECT_TRUE(e.open(text));
        return e;
    }
    bool finish() {
        return stepUntil([&] { return engine->finished() || engine->closed(); });
    }
    // Starts a DNC send and lets the machine give its start signal.
    void startDnc() {
        engine->startPressed();
        step(3);
        port.queueInput({17});
        ASSERT_TRUE(stepUntil([&] { return view.status() == "   Send Start>>   "; }));
    }
};

}  // namespace

// Every byte of the text goes out once, in order, upper-cased (ASCII
// letters only), the blanks at the text's ends left out.
TEST_F(Send, NomalSendsAtOnceUpperCasedAndTrimmedWhateverDsrSays) {
    port.dsr = false;  // only "Brix" waits for DSR
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    std::string upper = all;
    upper.replace(upper.find('a'), 26, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    open("  " + all + "  ");
    engine->startPressed();
    step(2);
    EXPECT_EQ(port.written, "\x01");  // nothing needed from the machine
    ASSERT_TRUE(finish());
    EXPECT_EQ(port.written, upper);
    EXPECT_EQ(engine->outcome(), Outcome::Finished);
    engine->startPressed();  // after "finish" the start button closes the window
    EXPECT_TRUE(engine->closed());
    EXPECT_EQ(port.calls.back().op, "close");
}

// A hold begins at the next line end (after a CR and the LF behind it, a lone
// LF, a lone CR) whatever "Keep on" said before it began, and never inside
// the last line. The CR and the LF obey DC3 like any byte: no dwell block is
// glued to a line the machine held.
TEST_F(Send, AHoldBeginsAtTheNextLineEnd) {
    const struct {
        std::string text;
        bool early;           // asked at once, else once the first line is out
        std::string written;  // up to the second dwell block, or the whole send
    } cases[] = {
        {"G01 X10\r\nM30\r\n", true, "G01 X10\r\n" + kDwell + kDwell},
        {"G01 X10\nM30\n", true, "G01 X10\n" + kDwell + kDwell},
        {"G01 X10\rM30\r", true, "G01 X10\r" + kDwell + kDwell},
        {"G01 X10\r\nM30\r\n", false, "G01 X10\r\nM30\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        open(c.text, "DNC");
        startDnc();
        // The machine stops the line before its end, and again after a CR.
        const int stopsHere = c.text.find('\r') == std::string::npos ? 1 : 2;
        int stops = 0;
        if (c.early) {
            engine->quitPressed();
            engine->startPressed();  // "Keep on" while the hold is only asked
            port.onPut = [&](std::uint8_t b) {
                if (stops < stopsHere && (port.written.ends_with("X10") || b == '\r')) {
                    ++stops;
                    port.queueInput({19});
                }
            };
            for (int i = 0; i < stopsHere; ++i) {
                ASSERT_TRUE(stepUntil([&] { return stops > i; }));
                const std::string held = port.written;
                step(50);
                EXPECT_EQ(port.written, held) << "sent while DC3 held the line";
                port.queueInput({17});
            }
        } else {
            ASSERT_TRUE(stepUntilWritten("X10\r\n"));
            engine->quitPressed();
        }
        stepUntil([&] { return port.written.size() >= c.written.size() || engine->finished(); });
        port.onPut = nullptr;
        EXPECT_EQ(port.written.substr(0, c.written.size()), c.written);
    }
}

// A stop asked during a dwell block ("Aband on", Ctrl-C) finishes the block
// first, and so does "Keep on"; a line held past a second stops the send in
// the middle of it anyway. The hold is marked on the line after it.
TEST_F(Send, AStopOrKeepOnDuringADwellFinishesTheBlockFirst) {
    const std::string dwells = "G01 X10\r\n" + kDwell + kDwell;
    settings.sendingEdit = 1;
    for (int way = 0; way < 4; ++way) {
        open(kProgram, "DNC");
        startDnc();
        engine->quitPressed();
        ASSERT_TRUE(stepUntilWritten("\r\n" + kDwell + "G4X"));
        if (way == 2) port.queueInput({19});  // held: nothing goes out after the byte in flight
        step(1);
        const std::string before = port.written;
        if (way == 0)
            engine->quitPressed();
        else if (way == 3)
            engine->startPressed();
        else
            engine->abandon();
        ASSERT_TRUE(
            stepUntil([&] { return way == 3 ? engine->finished() : engine->closed(); }, 1100))
            << way;
        EXPECT_EQ(engine->outcome(), way == 3 ? Outcome::Finished : Outcome::Stopped);
        EXPECT_EQ(port.written, way == 2   ? before
                                : way == 3 ? dwells + "G01 X20\r\nM30\r\n"
                                           : dwells)
            << way;
    }
    EXPECT_EQ(view.highlights, std::vector<std::int64_t>(4, 10));
}

// The line's state is shown on a change and once a second (the machine's
// hold: the transfer window's suite). With "Brix" DSR off holds the send.
TEST_F(Send, TheLineStateIsShownOnChangeAndOnceASecond) {
    settings.handshake = "Brix";
    msPerStep = 100;
    open(repeat("G01 X1\r\n", 100), "Data In/Out");
    engine->startPressed();
    step(25);
    ASSERT_FALSE(view.lineStates.empty());
    EXPECT_EQ(view.lineStates.back(), std::make_pair(LineState::WaitingForDc1, std::int64_t{2}));
    port.dsr = false;
    port.queueInput({17});
    step(3);
    EXPECT_EQ(view.lineStates.back().first, LineState::WaitingForDsr);
    const size_t atDsrOff = port.written.size();
    step(20);
    EXPECT_EQ(port.written.size(), atDsrOff);  // DC1 is not enough while DSR is off
    port.dsr = true;
    ASSERT_TRUE(finish());
    step(1);
    EXPECT_EQ(view.lineStates.back().first, LineState::Idle);
}

// A resend during the send lets the character already taken go out and arms
// the send from the first character: only DC1 starts it again, anything else
// is dropped. After a finish a resend makes the window ready again. Before
// the machine's DC1 a quit ends a DNC send without a hold (in the other
// modes, Esc in the transfer window's suite).
TEST_F(Send, ResendRearmsFromTheFirstCharacter) {
    open(kProgram, "DNC");
    engine->startPressed();
    port.queueInput({17});
    ASSERT_TRUE(stepUntilWritten("G01 X"));
    engine->resendPressed();
    step(3);
    EXPECT_EQ(port.written, "G01 X1");          // the character already taken still goes out
    EXPECT_EQ(view[Element::AmountSent], "6");  // what really went out, not the whole text
    port.written.clear();
    engine->startPressed();
    port.queueInput({'x', 'y'});
    step(20);
    EXPECT_EQ(port.written, "");  // waits for DC1 again
    port.queueInput({17});
    ASSERT_TRUE(finish());
    EXPECT_EQ(port.written, kProgram);
    engine->resendPressed();
    EXPECT_EQ(view.status(), "Ready");
    port.written.clear();
    engine->startPressed();
    engine->quitPressed();  // before the machine's DC1: no hold, the send ends
    step(30);
    EXPECT_EQ(port.written, "");
    EXPECT_FALSE(engine->holdRequested());
    EXPECT_TRUE(engine->closed());
}

// Once a second; the elapsed time runs past the nine hours of 16 bits.
TEST_F(Send, Statistics) {
    EXPECT_EQ(formatHms(3600 * 30 + 125), "30 : 2 : 5");
    msPerStep = 200;  // five characters a second
    open(repeat("G01 X1\r\n", 200), "DNC");
    startDnc();
    ASSERT_TRUE(stepUntil([&] { return engine->elapsedSeconds() == 4; }));
    // 17 characters in 4 s: 4 a second for the 1583 left.
    EXPECT_EQ(view[Element::AmountSent], "17");
    EXPECT_EQ(view[Element::Remaining], "0 : 6 : 35");

    msPerStep = 1000;  // one character a second
    open(std::string(70000, 'X'));
    engine->startPressed();
    ASSERT_TRUE(stepUntil([&] { return engine->finished(); }, 300000));
    EXPECT_GT(engine->elapsedSeconds(), 69990);
}

TEST_F(Send, EiaTranslatesEveryByteOnceRuleTargetsAndDwellBlocksIncluded) {
    settings.code = "EIA";
    settings.replaceString2 = "[65][0][98 67]";  // "A" -> "bC"
    open("xA9 b%\r\nG2\r\n", "DNC");
    startDnc();
    engine->quitPressed();
    std::string expected;
    for (char c : "XBC9 B%\r\n" + kDwell) expected += static_cast<char>(ToEiaCode(c, true));
    ASSERT_TRUE(stepUntil([&] { return port.written.size() >= expected.size(); }));
    EXPECT_EQ(port.written.substr(0, expected.size()), expected);
}

// A pulled cable ends the send and shows what went out; a write that could
// not be queued in time is tried again, never dropped.
TEST_F(Send, ALostPortAndAWriteThatTimesOut) {
    open(repeat("G01 X1\r\n", 10));
    engine->startPressed();
    port.timeOutWrites(3);
    port.onPut = [&](std::uint8_t) {
        if (port.written.size() == 13) port.pullCable();
    };
    ASSERT_TRUE(stepUntil([&] { return !view.asked.empty(); }));
    step(10);
    EXPECT_EQ(port.written, "G01 X1\r\nG01 X");
    ASSERT_EQ(view.askedTexts(), Texts{"Port error"});
    EXPECT_EQ(view[Element::AmountSent], "13");
    EXPECT_EQ(engine->outcome(), Outcome::PortLost);
    engine->quitPressed();
    EXPECT_TRUE(engine->closed());
}

// A port that cannot be opened, a setting the line refuses, a rate the
// settings know no code for (refused before the line is set): no send, the
// port closed again.
TEST_F(Send, OpeningFailures) {
    const struct {
        int openResult, ioctlResult;
        std::string baud, text;
    } cases[] = {{SIO_OPENFAIL, SIO_OK, "9600", "Port error"},
                 {SIO_OK, SIO_BADPARM, "9600", "Communication seting error"},
                 {SIO_OK, SIO_OK, "115200", "Communication seting error"}};
    for (const auto& c : cases) {
        port.openResult = c.openResult;
        port.ioctlResult = c.ioctlResult;
        settings.baudRate = c.baud;
        view.asked.clear();
        port.calls.clear();
        EXPECT_FALSE(make().open(kProgram));
        ASSERT_EQ(view.askedTexts(), Texts{c.text}) << c.baud;
        EXPECT_TRUE(engine->closed());
        EXPECT_EQ(port.calls.back().op, "close");
    }
    EXPECT_NE(view.asked[0].detail.find("115200"), std::string::npos);
    for (const auto& call : port.calls) EXPECT_NE(call.op, "ioctl");  // the line never set
}
