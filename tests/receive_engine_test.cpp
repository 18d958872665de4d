#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "EngineHarness.h"
#include "FileFaults.h"
#include "ReceiveEngine.h"
#include "TempDir.h"

using namespace fbx;
using namespace std::string_literals;
using Texts = std::vector<std::string>;

namespace {

struct Receive : ::testing::Test, fbx::test::EngineHarness<ReceiveEngine> {
    fbx::test::TempDir dir;
    std::string target = dir.file("received.txt");

    ReceiveEngine& open(const std::string& mode = "NOMAL") {
        settings.mode = mode;
        view.asked.clear();
        port.written.clear();
        ReceivedFile file(target);
        EXPECT_TRUE(file.prepare().isOk());
        ReceiveEngine& e = make();
        EXPECT_TRUE(e.open(target));
        clock.advance(ReceiveEngine::kPollDelayMs);
        return e;
    }
    std::string file() const { return fbx::test::fileBytes(target); }
    // Feeds one read's worth of bytes and lets the engine take it.
    void machineSends(const std::string& bytes) {
        port.queueInput(bytes);
        do step(1);
        while (port.inputPending() && !engine->closed());
    }
};

}  // namespace

// A lone NUL starts the reception; each hand-over of text is bracketed by XOFF and XON.
TEST_F(Receive, ContinuousModeKeepsEverythingUntilTheOperatorSaves) {
    ReceivedFile(target).prepare();
    ReceiveEngine& e = make();
    ASSERT_TRUE(e.open(target));
    port.queueInput(std::string(1, '\0'));
    clock.advance(ReceiveEngine::kPollDelayMs);
    step(1);
    EXPECT_TRUE(e.receiveStarted());
    machineSends("G01 X1\r\n");
    machineSends(std::string("M3\0", 3) + "0\r\n");
    EXPECT_EQ(port.written, "\x13\x11\x13\x11");
    // A DC1 the line cannot take at once goes out at the next step.
    port.onPut = [&](std::uint8_t b) { port.timeOutWrites(b == 0x13); };
    machineSends("G04\r\n");
    EXPECT_EQ(port.written, "\x13\x11\x13\x11\x13");
    step(1);
    EXPECT_EQ(port.written, "\x13\x11\x13\x11\x13\x11");
    e.quitPressed();
    ASSERT_EQ(view.askedTexts(), (Texts{"Quit receiving?", "Data saving"}));
    EXPECT_EQ(file(), "\r\nG01 X1\r\nM30\r\nG04\r\n");
    EXPECT_EQ(e.outcome(), Outcome::Saved);
}

// However the reads cut it, the file holds the program from its first "%"
// through its second; NUL bytes, EIA tape and processing rules included.
TEST_F(Receive, MarkModesKeepTheProgramBetweenTheMarks) {
    const std::string p = "%\r\nO1\r\nG01 X1\r\nM30\r\n%";  // the program
    const struct {
        std::string mode, code, rule;
        std::vector<std::string> reads;
        std::string stored;
    } cases[] = {
        {"Data In/Out", "ISO", "", {"noise " + p + "after"}, p},
        {"DNC", "ISO", "", {"noise", " more\r\n" + p.substr(0, 5), p.substr(5) + "x"}, p},
        {"Data In/Out", "EIA", "", {"\0\0\x5B\x80\x61\x20\x0F\x01\x80\x5B"s}, "%\nA0 1\n%"},
        // A rule's target follows its trigger; a "%" in it is no mark, and
        // a closing "%" ends the program before its rule could add anything.
        {"Data In/Out", "ISO", "[65][3][37 66]", {"%AXYZ", "%"}, "%A%BXYZ%"},
        {"DNC", "ISO", "[37][0][78 49]", {"%G1%"}, "%N1G1%"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        settings.code = c.code;
        settings.replaceString4 = c.rule;
        open(c.mode);
        for (const std::string& r : c.reads) machineSends(r);
        EXPECT_EQ(file(), "\r\n" + c.stored);
        ASSERT_EQ(view.askedTexts(), (Texts{"Data receive finish!!!?"}));
        EXPECT_EQ(engine->outcome(), Outcome::Finished);
    }
}

// A fast line is handed over in pieces of up to eight reads; what is pending
// goes to the file past 10000 characters, or once it has waited a second.
TEST_F(Receive, LongReceptionsAreWrittenInPiecesWithBoundedMemory) {
    open();
    std::string sent(512 * 11 + 100, 'X');  // reads of 512 ... 512, 100
    port.queueInput(sent);
    step(1);
    EXPECT_EQ(port.written, "\x13\x11");
    EXPECT_EQ(engine->receivedTotal(), 512 * 8);
    step(1);
    EXPECT_EQ(port.written, "\x13\x11\x13\x11");
    for (int i = 0; sent.size() < 1000000; ++i) sent += "N" + std::to_string(i) + " G01 X1\r\n";
    for (size_t at = 512 * 11 + 100; at < sent.size(); at += 512) {
        machineSends(sent.substr(at, 512));
        EXPECT_LE(engine->pendingText().size(),
                  ReceiveEngine::kAppendThreshold + 512 * ReceiveEngine::kReadsPerHandOver);
    }
    EXPECT_GT(file().size(), sent.size() - 10600);
    engine->quitPressed();
    EXPECT_TRUE(file() == "\r\n" + sent);
    EXPECT_EQ(engine->receivedTotal(), static_cast<std::int64_t>(sent.size()));

    // Text pending for a second goes to the disk while the reception runs.
    open();
    machineSends("G01 X1\r\n");
    clock.advance(ReceiveEngine::kQuietWriteMs - 10);
    step(1);
    EXPECT_EQ(file(), "\r\n");
    clock.advance(10);
    step(1);
    EXPECT_EQ(file(), "\r\nG01 X1\r\n");
    EXPECT_EQ(engine->pendingText(), "");
}

// The operator's quit: Cancel releases the sender (XON; with "Brix" DTR,
// dropped while the question is open); before anything arrived nothing is
// written. (A mark-mode reception that began is saved as incomplete: the
// command-line suite.)
TEST_F(Receive, QuitPaths) {
    settings.handshake = "Brix";
    open("DNC");
    machineSends("%G01");
    port.calls.clear();
    port.written.clear();
    view.answers = {Answer::Cancel};
    engine->quitPressed();
    ASSERT_FALSE(port.calls.empty());
    EXPECT_EQ(port.calls.front(), (MemorySerialPort::Call{"DTR", 0}));
    EXPECT_EQ(port.calls.back(), (MemorySerialPort::Call{"DTR", 1}));
    EXPECT_EQ(port.written, "\x11");
    EXPECT_FALSE(engine->closed());

    settings.handshake = "Soft";
    open("DNC");
    engine->quitPressed();
    EXPECT_EQ(port.written, "");  // nothing to hold back yet
    clock.advance(1000);
    step(1);
    EXPECT_TRUE(engine->closed());
    EXPECT_EQ(file(), "\r\n");
    EXPECT_EQ(engine->outcome(), Outcome::Stopped);
}

// A line lost at the XOFF before a hand-over first saves what came. (A cable
// pulled in a quiet moment: the shop host's suite, machine_host_test.)
TEST_F(Receive, ALostPortSavesWhatArrivedFirst) {
    open("DNC");
    machineSends("%G01");
    port.failAfter(1);  // the XOFF of the next hand-over fails
    machineSends("X2");
    step(2);
    EXPECT_EQ(file(), "%G01X2\r\n");
}

TEST_F(Receive, ADiskThatFillsUpKeepsTheTextPendingAndNeverDoublesIt) {
    open();
    const std::string block(6000, 'A');
    {
        fbx::test::FileSizeLimit full(2 + 4000);
        machineSends(block);
        machineSends(block);  // the append fails part-way and is taken back
        machineSends(block);
        ASSERT_EQ(view.asked.size(), 1u);  // told once, naming the file
        EXPECT_NE(view.asked[0].text.find(target), std::string::npos);
        EXPECT_EQ(engine->pendingText().size(), 18000u);
        EXPECT_EQ(std::filesystem::file_size(target), 2u);
    }
    machineSends("B");  // space again: written once, in order
    EXPECT_EQ(engine->pendingText(), "");
    EXPECT_TRUE(file() == "\r\n" + block + block + block + "B");
}

// A write error the system holds back until the file is flushed is no
// finish. (A final save the disk cannot take, kept in two parts: the shop
// host's suite.)
TEST_F(Receive, AFinalSaveThatFailsIsNoFinish) {
    open("DNC");
    machineSends("%G01");
    fbx::test::failNextFsync(EIO);
    machineSends("%");
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_NE(view.asked[0].text.find("could not be written whole"), std::string::npos);
    EXPECT_EQ(engine->outcome(), Outcome::SaveFailed);
}

// A target removed while the reception runs: the text goes on in a file
// beside it, whole, and the save is no plain one.
TEST_F(Receive, ARemovedTargetGoesOnInAFileBesideItAndIsNoPlainSave) {
    open();
    machineSends("G01\r\n");
    clock.advance(ReceiveEngine::kQuietWriteMs);
    step(1);
    std::filesystem::remove(target);
    machineSends("C");
    engine->quitPressed();
    const std::string moved = dir.file("received-recovered.txt");
    EXPECT_EQ(engine->receivedPath(), moved);
    EXPECT_EQ(fbx::test::fileBytes(moved), "\r\nG01\r\nC");
    EXPECT_EQ(engine->outcome(), Outcome::SavedElsewhere);
    EXPECT_FALSE(std::filesystem::exists(target));
}
