#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigFile.h"
#include "EiaCodes.h"
#include "EngineHarness.h"
#include "ReceiveEngine.h"
#include "TempDir.h"

using namespace fbx;

namespace {

struct Receive : ::testing::Test, fbx::test::EngineHarness<ReceiveEngine> {
    fbx::test::TempDir dir;
    std::string target = dir.file("received.txt");

    ReceiveEngine& open(const std::string& mode = "NOMAL") {
        settings.mode = mode;
        ReceivedFile file(target);
        EXPECT_TRUE(file.prepare().isOk());
        ReceiveEngine& e = make();
        EXPECT_TRUE(e.open(target));
        clock.advance(ReceiveEngine::kPollDelayMs);
        return e;
    }
    std::string file() const {
        std::string text;
        readWholeFile(target, text);
        return text;
    }
    // Feeds one read's worth of bytes and lets the engine take it.
    void machineSends(const std::string& bytes) {
        port.queueInput(bytes);
        do step(1);
        while (port.inputPending() && !engine->closed());
    }
};

}  // namespace

TEST_F(Receive, ReadLayoutAndFirstPollAfter500ms) {
    settings.mode = "NOMAL";
    ReceivedFile(target).prepare();
    ReceiveEngine& e = make();
    ASSERT_TRUE(e.open(target));
    EXPECT_EQ(view.status(), "Receive waitting");
    EXPECT_EQ(view.start(), "finishing");
    EXPECT_EQ(view[Element::Caption0], "Data received");
    port.queueInput("G01");
    clock.advance(499);
    e.step();
    EXPECT_EQ(port.reads, 0);
    clock.advance(1);
    e.step();
    EXPECT_EQ(port.reads, 1);
    EXPECT_EQ(e.pendingText(), "G01");
}

TEST_F(Receive, ContinuousModeKeepsEverythingUntilTheOperatorSaves) {
    open();
    machineSends(std::string(1, '\0'));  // a lone NUL starts the reception
    EXPECT_TRUE(engine->receiveStarted());
    machineSends("G01 X1\r\n");
    machineSends(std::string("M3\0", 3) + "0\r\n");
    EXPECT_EQ(port.written, "\x13\x11\x13\x11");  // XOFF/XON around each hand-over with text
    EXPECT_EQ(view.status(), "Receive waitting");
    EXPECT_EQ(view[Element::WordsPerSecond], "13");
    EXPECT_EQ(view.received.back(), "G01 X1\r\nM30\r\n");
    engine->quitPressed();
    EXPECT_EQ(view.askedTexts(), (std::vector<std::string>{"Quit receiving?", "Data saving"}));
    EXPECT_EQ(view.asked[0].title, "Lever");
    EXPECT_EQ(view.asked[1].title, "Receive Save");
    EXPECT_EQ(file(), "\r\nG01 X1\r\nM30\r\n");
    EXPECT_EQ(engine->outcome(), Outcome::Saved);
    clock.advance(1000);
    step(1);
    EXPECT_TRUE(engine->closed());
}

TEST_F(Receive, AFastLineIsHandedOverInPiecesOfUpToEightReads) {
    open();
    port.queueInput(std::string(512 * 11 + 100, 'X'));  // reads of 512 ... 512, 100
    step(1);
    EXPECT_EQ(port.written, "\x13\x11");
    EXPECT_EQ(engine->receivedTotal(), 512 * 8);
    step(1);
    EXPECT_EQ(port.written, "\x13\x11\x13\x11");
    EXPECT_EQ(engine->receivedTotal(), 512 * 11 + 100);
}

TEST_F(Receive, MarkModesKeepTheProgramBetweenTheMarksWhateverTheReads) {
    const std::string program = "%\r\nO1\r\nG01 X1\r\nM30\r\n%";
    std::vector<std::vector<std::string>> splits = {
        {"noise " + program + "after"},
        {"noise", " more\r\n" + program.substr(0, 5), program.substr(5) + "after"},
        {std::string("\0\0\0", 3) + "x", program},
    };
    for (const auto& reads : splits) {
        open("Data In/Out");
        view.asked.clear();
        for (const std::string& r : reads) machineSends(r);
        EXPECT_EQ(file(), "\r\n" + program);
        EXPECT_EQ(view.askedTexts(), (std::vector<std::string>{"Data receive finish!!!?"}));
        EXPECT_EQ(view.asked[0].title, "Receive OK ");
        EXPECT_EQ(view.asked[0].icon, Icon::Information);
        EXPECT_EQ(engine->outcome(), Outcome::Finished);
        port.queueInput("later");
        clock.advance(1000);
        step(2);
        EXPECT_TRUE(engine->closed());
        EXPECT_TRUE(port.inputPending());  // never read
        char drain[512];
        while (port.inputPending()) port.sio_read(1, drain, 512);
    }
}

TEST_F(Receive, StatusLineAndNulBytesInsideTheProgram) {
    open("DNC");
    machineSends("%");
    EXPECT_EQ(view.status(), "Receiving data>>>");
    machineSends(std::string("G0\0", 3) + "1%");
    EXPECT_EQ(file(), "\r\n%G01%");
    EXPECT_FALSE(view.visible[Element::StatusLine]);
}

TEST_F(Receive, RuleTargetsFollowTheirTriggerAndAPercentInThemIsNoMark) {
    settings.replaceString4 = "[65][3][37 66]";  // "A" -> "A%B", the shift has no effect
    open("Data In/Out");
    machineSends("%AXYZ");
    EXPECT_TRUE(engine->receiveStarted());
    EXPECT_TRUE(view.asked.empty());
    machineSends("%");
    EXPECT_EQ(file(), "\r\n%A%BXYZ%");
    EXPECT_EQ(view[Element::WordsPerSecond], "8");
}

TEST_F(Receive, EiaBytesAreStoredConverted) {
    settings.code = "EIA";
    open("Data In/Out");
    std::string punched = {0x00, 0x00, 0x5B, static_cast<char>(0x80), 0x61, 0x20, 0x0F, 0x01,
                           static_cast<char>(0x80), 0x5B};
    machineSends(punched);
    EXPECT_EQ(file(), "\r\n%\nA0 1\n%");
}

TEST_F(Receive, LongReceptionsAreWrittenInPiecesWithBoundedMemory) {
    open();
    std::string sent;
    for (int i = 0; sent.size() < 1000000; ++i) {
        std::string line = "N" + std::to_string(i) + " G01 X" + std::to_string(i % 977) + "\r\n";
        sent += line;
    }
    for (size_t at = 0; at < sent.size(); at += 512) {
        machineSends(sent.substr(at, 512));
        EXPECT_LE(engine->pendingText().size(),
                  ReceiveEngine::kAppendThreshold + 512 * ReceiveEngine::kReadsPerHandOver);
    }
    EXPECT_GT(file().size(), sent.size() - 10600);
    engine->quitPressed();
    EXPECT_EQ(file(), "\r\n" + sent);
    EXPECT_EQ(engine->receivedTotal(), static_cast<std::int64_t>(sent.size()));
}

TEST_F(Receive, QuitCancelReleasesTheSenderEvenBeforeTheStart) {
    settings.handshake = "Brix";
    open("DNC");
    view.answers = {Answer::Cancel};
    engine->quitPressed();
    using C = MemorySerialPort::Call;
    EXPECT_EQ(port.written, "\x11");
    EXPECT_EQ(port.calls.back(), (C{"DTR", 1}));

    machineSends("%G01");
    port.calls.clear();
    port.written.clear();
    view.answers = {Answer::Cancel};
    engine->quitPressed();  // started, "Brix": DTR off while the question is open
    EXPECT_EQ(port.calls.front(), (C{"DTR", 0}));
    EXPECT_EQ(port.written, "\x11");
    EXPECT_FALSE(engine->closed());
}

TEST_F(Receive, QuitBeforeAnythingArrivedWritesNothing) {
    open("DNC");
    engine->quitPressed();
    EXPECT_EQ(port.written, "");  // nothing to hold back yet
    clock.advance(1000);
    step(1);
    EXPECT_TRUE(engine->closed());
    EXPECT_EQ(file(), "\r\n");
    EXPECT_EQ(engine->outcome(), Outcome::Stopped);
}

TEST_F(Receive, IncompleteMarkModeReceptions) {
    open("Data In/Out");
    machineSends("%\r\nG01 X1\r\n");
    engine->quitPressed();  // "Soft": XOFF before the question
    EXPECT_EQ(port.written.back(), '\x13');
    EXPECT_EQ(view.askedTexts(), (std::vector<std::string>{"Quit receiving?", "Receive incomplete"}));
    EXPECT_EQ(view.asked[1].title, "error");
    EXPECT_EQ(file(), "%\r\nG01 X1\r\n\r\n");  // replaced by the text and CR LF
    EXPECT_EQ(engine->outcome(), Outcome::Incomplete);

    // After an intermediate save the earlier part is kept: the rest is appended.
    open("Data In/Out");
    std::string big = "%" + std::string(10500, 'X');
    for (size_t at = 0; at < big.size(); at += 512) machineSends(big.substr(at, 512));
    machineSends("TAIL");
    engine->quitPressed();
    EXPECT_EQ(file(), "\r\n" + big + "TAIL\r\n");
}

TEST_F(Receive, ClosingTheWindowGoesThroughTheQuitPath) {
    open();
    machineSends("G01 X1\r\n");
    view.answers = {Answer::Cancel};
    EXPECT_FALSE(engine->closeRequested());
    EXPECT_FALSE(engine->closed());
    EXPECT_TRUE(engine->closeRequested());
    EXPECT_TRUE(engine->closed());
    EXPECT_EQ(file(), "\r\nG01 X1\r\n");
}

TEST_F(Receive, ALostPortSavesWhatArrivedFirst) {
    open();
    machineSends("G01 X1\r\nG0");
    port.pullCable();
    step(2);
    EXPECT_EQ(file(), "\r\nG01 X1\r\nG0");
    EXPECT_EQ(view.askedTexts(), (std::vector<std::string>{"Port error"}));
    EXPECT_EQ(view.asked[0].title, "System Warm");
    EXPECT_EQ(engine->outcome(), Outcome::PortLost);
    clock.advance(1000);
    step(1);
    EXPECT_TRUE(engine->closed());

    port.failAfter(-1);  // a new cable
    open("DNC");
    machineSends("%G01");
    port.failAfter(1);  // the XOFF of the next hand-over fails
    machineSends("X2");
    step(2);
    EXPECT_EQ(file(), "%G01X2\r\n");
}

TEST_F(Receive, AnUnwritableTargetKeepsTheTextAndIsRetried) {
    open();
    std::filesystem::remove(target);
    std::filesystem::create_directory(target);  // appends now fail
    std::string block(6000, 'A');
    machineSends(block);
    machineSends(block);
    machineSends(block);
    ASSERT_EQ(view.asked.size(), 1u);  // told once, naming the file
    EXPECT_NE(view.asked[0].text.find(target), std::string::npos);
    EXPECT_EQ(engine->pendingText().size(), 18000u);
    std::filesystem::remove(target);  // the operator mends it: the file is made anew
    machineSends("B");
    EXPECT_EQ(engine->pendingText(), "");
    EXPECT_EQ(file(), block + block + block + "B");
}

TEST_F(Receive, AFinalSaveThatFailsGoesToARescueFile) {
    open();
    machineSends("G01 X1\r\n");
    std::filesystem::remove(target);
    std::filesystem::create_directory(target);
    engine->quitPressed();
    ASSERT_FALSE(engine->rescuePath().empty());
    std::string rescued;
    ASSERT_TRUE(readWholeFile(engine->rescuePath(), rescued).isOk());
    EXPECT_EQ(rescued, "G01 X1\r\n");
    EXPECT_NE(view.asked.back().text.find(engine->rescuePath()), std::string::npos);
    EXPECT_EQ(engine->outcome(), Outcome::SaveFailed);
    std::filesystem::remove(engine->rescuePath());
}
