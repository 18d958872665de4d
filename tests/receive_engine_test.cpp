#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "ConfigFile.h"
#include "EiaCodes.h"
#include "EngineHarness.h"
#include "FileFaults.h"
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
    ASSERT_FALSE(view.received.empty());
    EXPECT_EQ(view.received.back(), "G01 X1\r\nM30\r\n");
    engine->quitPressed();
    ASSERT_EQ(view.askedTexts(), (std::vector<std::string>{"Quit receiving?", "Data saving"}));
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
    const std::string nul(1, '\0');  // NUL bytes are dropped, inside the program too
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"Data In/Out", {"noise " + program + "after"}},
        {"DNC", {"noise", " more\r\n" + program.substr(0, 5), program.substr(5) + "after"}},
        {"DNC", {nul + nul + "x", program.substr(0, 9) + nul + program.substr(9)}},
    };
    for (const auto& [mode, reads] : cases) {
        open(mode);
        view.asked.clear();
        for (const std::string& r : reads) machineSends(r);
        EXPECT_EQ(file(), "\r\n" + program);
        ASSERT_EQ(view.askedTexts(), (std::vector<std::string>{"Data receive finish!!!?"}));
        EXPECT_EQ(view.asked[0].title, "Receive OK ");
        EXPECT_EQ(view.asked[0].icon, Icon::Information);
        EXPECT_EQ(view.status(), "Receiving data>>>");
        EXPECT_FALSE(view.visible[Element::StatusLine]);
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

TEST_F(Receive, RuleTargetsFollowTheirTriggerAndAPercentInThemIsNoMark) {
    settings.replaceString4 = "[65][3][37 66]";  // "A" -> "A%B", the shift has no effect
    open("Data In/Out");
    machineSends("%AXYZ");
    EXPECT_TRUE(engine->receiveStarted());
    EXPECT_TRUE(view.asked.empty());
    machineSends("%");
    EXPECT_EQ(file(), "\r\n%A%BXYZ%");
    EXPECT_EQ(view[Element::WordsPerSecond], "8");

    // A rule on "%" adds its target after the opening mark; the closing mark
    // ends the program before the rule could add anything.
    settings.replaceString4 = "[37][0][78 49]";  // "%" -> "%N1"
    open("DNC");
    machineSends("%G1%");
    EXPECT_EQ(file(), "\r\n%N1G1%");
}

TEST_F(Receive, EiaBytesAreStoredConverted) {
    settings.code = "EIA";
    open("Data In/Out");
    std::string punched = {0x00, 0x00, 0x5B, static_cast<char>(0x80), 0x61,
                           0x20, 0x0F, 0x01, static_cast<char>(0x80), 0x5B};
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
    ASSERT_FALSE(port.calls.empty());
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

TEST_F(Receive, IncompleteMarkModeReceptionsInBothMarkModes) {
    for (const std::string mode : {"Data In/Out", "DNC"}) {
        open(mode);
        view.asked.clear();
        machineSends("%\r\nG01 X1\r\n");
        engine->quitPressed();  // "Soft": XOFF before the question
        ASSERT_FALSE(port.written.empty());
        EXPECT_EQ(port.written.back(), '\x13');
        ASSERT_EQ(view.askedTexts(),
                  (std::vector<std::string>{"Quit receiving?", "Receive incomplete"}));
        EXPECT_EQ(view.asked[1].title, "error");
        EXPECT_EQ(file(), "%\r\nG01 X1\r\n\r\n") << mode;  // replaced by the text and CR LF
        EXPECT_EQ(engine->outcome(), Outcome::Incomplete) << mode;
    }
    // After an intermediate save the earlier part is kept: the rest is appended.
    open("Data In/Out");
    std::string big = "%" + std::string(10500, 'X');
    for (size_t at = 0; at < big.size(); at += 512) machineSends(big.substr(at, 512));
    machineSends("TAIL");
    engine->quitPressed();
    EXPECT_TRUE(file() == "\r\n" + big + "TAIL\r\n");
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
    ASSERT_EQ(view.askedTexts(), (std::vector<std::string>{"Port error"}));
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

TEST_F(Receive, AFinalSaveThatFailsIsNoFinishAndSaysWhichPartIsWhere) {
    open("Data In/Out");
    const std::string head = "%" + std::string(10500, 'X');
    for (size_t at = 0; at < head.size(); at += 512) machineSends(head.substr(at, 512));
    const size_t inTarget = file().size() - 2;  // the first piece is in the target
    ASSERT_GT(inTarget, 10000u);
    const std::string tail = std::string(3000, 'Y') + "%";
    {
        fbx::test::FileSizeLimit full(2 + inTarget + 1000);
        machineSends(tail);
    }
    ASSERT_FALSE(engine->rescuePath().empty());
    EXPECT_TRUE(file() + fbx::test::fileBytes(engine->rescuePath()) == "\r\n" + head + tail);
    ASSERT_EQ(view.asked.size(), 1u);  // no "Data receive finish!!!?" after the error
    EXPECT_NE(view.asked[0].text.find("The first " + std::to_string(inTarget) + " bytes are in " +
                                      target + ", the rest in " + engine->rescuePath()),
              std::string::npos);
    EXPECT_EQ(engine->outcome(), Outcome::SaveFailed);
    std::filesystem::remove(engine->rescuePath());

    // A write error the system holds back until the file is closed.
    open("DNC");
    machineSends("%G01");
    fbx::test::failNextClose(EIO);
    machineSends("%");
    ASSERT_EQ(view.asked.size(), 2u);
    EXPECT_NE(view.asked[1].text.find("could not be written whole"), std::string::npos);
    EXPECT_EQ(engine->outcome(), Outcome::SaveFailed);
}

TEST_F(Receive, ARemovedTargetGoesOnInAFileBesideItAndIsNoPlainSave) {
    open();
    const std::string first(10500, 'A');
    for (size_t at = 0; at < first.size(); at += 512) machineSends(first.substr(at, 512));
    std::filesystem::remove(target);
    machineSends(std::string(10000, 'B'));
    machineSends("C");
    engine->quitPressed();
    const std::string moved = dir.file("received-recovered.txt");
    EXPECT_EQ(engine->receivedPath(), moved);
    EXPECT_TRUE(fbx::test::fileBytes(moved) == "\r\n" + first + std::string(10000, 'B') + "C");
    const auto texts = view.askedTexts();
    ASSERT_EQ(texts.size(), 3u);  // the move once, then the quit question and "Data saving"
    EXPECT_NE(texts[0].find(target), std::string::npos);
    EXPECT_NE(texts[0].find(moved), std::string::npos);
    EXPECT_EQ(engine->outcome(), Outcome::SavedElsewhere);
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(Receive, AQuietSecondWritesWhatIsPending) {
    open();
    machineSends("G01 X1\r\n");
    EXPECT_EQ(file(), "\r\n");
    clock.advance(ReceiveEngine::kQuietWriteMs - 10);
    step(1);
    EXPECT_EQ(file(), "\r\n");
    clock.advance(10);
    step(1);
    EXPECT_EQ(file(), "\r\nG01 X1\r\n");
    EXPECT_EQ(engine->pendingText(), "");
}
