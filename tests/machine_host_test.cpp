// The machines of the shop, each hosted on an in-memory line that is kept
// while engines come and go on it: what one punches is stored as soon as it
// ends, nothing read is lost whatever ends the line, what it asks for is
// answered, and a lost line comes back. A reload of the shop's configuration:
// a changed machine finishes its transfer first and keeps its line, a removed
// one lets its line go, a new one opens its own, an unchanged one is untouched.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>
#include <filesystem>
#include <map>
#include <tuple>

#include "ConfigFile.h"
#include "EiaCodes.h"
#include "LineKeeper.h"
#include "MachineHost.h"
#include "MemorySerialPort.h"
#include "PollPort.h"
#include "ReceiveEngine.h"
#include "ReceivedFile.h"
#include "RecordingView.h"
#include "Shop.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using Names = std::vector<std::string>;

// What a tape punch in EIA puts on the line: CR dropped, LF as end of block.
std::string eiaTape(const std::string& text) {
    std::string tape;
    for (char c : text) {
        if (c == '\n')
            tape += static_cast<char>(0x80);
        else if (c != '\r')
            tape += static_cast<char>(ToEiaCode(static_cast<std::uint8_t>(c), true));
    }
    return tape;
}

std::string withoutFlowControl(std::string bytes) {
    std::erase_if(bytes, [](char c) { return c == kDC1 || c == kDC3; });
    return bytes;
}

std::uint32_t crcOf(std::string_view bytes) {
    Crc32 crc;
    crc.update(bytes);
    return crc.value();
}

std::string program(int number, int lines = 3) {
    std::string text = "%\r\nO" + std::to_string(number) + " (PART)\r\n";
    for (int i = 0; i < lines; ++i) text += "G01 X" + std::to_string(i) + " Y-2.5 F300\r\n";
    return text + "M30\r\n%";
}

// A machine on the line /dev/NAME whose folder (made under dir) holds its
// programs and, in incoming/, what it punches.
MachineConfig machineIn(const test::TempDir& dir, const std::string& name,
                        const std::string& folder) {
    fs::create_directories(dir.file(folder));
    MachineConfig m;
    m.name = name;
    m.port = "/dev/" + name;
    m.folder = dir.file(folder);
    m.incoming = dir.file(folder + "/incoming");
    m.request = kDefaultRequest;
    return m;
}

class MachineHostTest : public ::testing::Test {
protected:
    MachineHostTest() { setUp("nc"); }
    ~MachineHostTest() override { unsetenv("TMPDIR"); }
    void setUp(const std::string& folder) {
        config = machineIn(dir, "mill-1", folder);
        config.dataBits = 8;
        config.parity = 'n';
        config.code = TapeCode::Auto;
        records.clear();
    }
    void start() {
        host = std::make_unique<MachineHost>(config, clock, journal, [this](const std::string&) {
            auto port = std::make_unique<MemorySerialPort>();
            line = port.get();
            return port;
        });
    }
    // Services the host every 5 ms of the clock, as the shop's loop would
    // at the latest.
    void run(int ms) {
        for (int t = 0; t < ms; t += 5) {
            host->service();
            clock.advance(5);
        }
        for (JournalRecord& r : journal.takeRecent()) records.push_back(r);
    }
    std::vector<JournalRecord> of(const std::string& direction) const {
        std::vector<JournalRecord> found;
        std::copy_if(records.begin(), records.end(), std::back_inserter(found),
                     [&](const JournalRecord& r) { return r.direction == direction; });
        return found;
    }
    Names outcomes(const std::string& direction) const {
        Names found;
        for (const JournalRecord& r : of(direction)) found.push_back(r.outcome);
        return found;
    }
    std::string incoming(const std::string& name) const {
        return fileBytes(config.incoming + "/" + name);
    }
    // Every file in `incoming`, hidden ones too, sorted.
    Names files() const {
        Names names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(config.incoming, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    size_t opens() const {
        return std::count(line->calls.begin(), line->calls.end(),
                          MemorySerialPort::Call{"open", 1});
    }

    test::TempDir dir;
    MachineConfig config;
    FakeClock clock;
    Journal journal;
    std::vector<JournalRecord> records;
    std::unique_ptr<MachineHost> host;
    MemorySerialPort* line = nullptr;
};

TEST_F(MachineHostTest, AnIsoAndAnEiaProgramPunchedBackToBackAreStoredAsPunched) {
    const std::string iso = "%\r\nO1001 (FIRST)\r\nG00 X1 Y2\r\nM30\r\n%";
    const std::string eia = "%\nO2002\nG01 X5\nM30\n%";
    start();
    line->queueInput(std::string(20, '\0') + iso + "\r\n" + std::string(10, '\0') + eiaTape(eia));
    run(100);
    EXPECT_EQ(incoming("O1001.nc"), iso);
    EXPECT_EQ(incoming("O2002.nc"), eia);
    ASSERT_EQ(outcomes("receive"), (Names{"stored", "stored"}));
    // In EIA the line's bytes and the stored file differ; both are told.
    const JournalRecord r = of("receive")[1];
    EXPECT_EQ((std::tuple{r.crc32, r.fileBytes, r.fileCrc32}),
              (std::tuple{crcOf(eiaTape(eia)), std::int64_t(eia.size()), crcOf(eia)}));
    EXPECT_EQ(files(), (Names{"O1001.nc", "O2002.nc"}));
    EXPECT_EQ(host->stateText(), "listening");
}

// Ten programs read in one go: each is stored as soon as its end is seen,
// and whatever ends the line, each one read is stored whole and the one cut
// short exactly as it came, never with a byte the machine did not send.
TEST_F(MachineHostTest, ProgramsReadTogetherAreStoredAtOnceWhateverEndsTheLine) {
    struct Case {
        const char* end;
        int whole;      // programs read whole before it
        bool cutShort;  // and half of the next
    };
    for (const Case& c : {Case{"nothing", 10, false}, Case{"line lost", 4, true},
                          Case{"stop", 6, true}, Case{"retire", 6, true}}) {
        SCOPED_TRACE(c.end);
        setUp(c.end);
        std::string bytes;
        for (int i = 1; i <= c.whole; ++i) bytes += program(i, 40) + "\r\n";
        const std::string next = program(c.whole + 1, 40);
        const std::string half = next.substr(0, next.size() / 2);
        if (c.cutShort) bytes += half;
        start();
        line->queueInput(bytes);
        run(10);  // the line opened and everything read
        if (c.end == std::string("line lost")) line->pullCable();
        if (c.end == std::string("stop")) host->terminate();
        if (c.end == std::string("retire")) host->retire();
        run(100);
        Names expected, stored;
        for (int i = 1; i <= c.whole; ++i) {
            expected.push_back("O" + std::to_string(i) + ".nc");
            EXPECT_TRUE(incoming(expected.back()) == program(i, 40)) << expected.back();
            stored.push_back("stored");
        }
        if (c.end == std::string("retire")) {
            // A program in progress is received to its end first.
            EXPECT_FALSE(host->done());
            line->queueInput(next.substr(half.size()));
            run(100);
            expected.push_back("O7.nc");
            EXPECT_EQ(incoming("O7.nc"), next);
            stored.push_back("stored");
        } else if (c.cutShort) {
            expected.push_back("O" + std::to_string(c.whole + 1) + ".nc.partial");
            EXPECT_EQ(incoming(expected.back()), half);
            stored.push_back("partial");
            ASSERT_FALSE(of("receive").empty());
            const JournalRecord r = of("receive").back();
            EXPECT_EQ((std::tuple{r.bytes, r.crc32, r.fileCrc32}),
                      (std::tuple{std::int64_t(half.size()), crcOf(half), crcOf(half)}));
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files(), expected);
        EXPECT_EQ(outcomes("receive"), stored);
        EXPECT_EQ(host->done(),
                  c.end != std::string("nothing") && c.end != std::string("line lost"));
    }
}

TEST_F(MachineHostTest, AProgramTheDiskCannotTakeIsKeptWhereTheJournalSaysAndTheNextIsStored) {
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit normal{};
    getrlimit(RLIMIT_FSIZE, &normal);
    // No file may grow past two thirds of the program: the reception's file
    // takes its first 10 to 14 KB, the rest goes to a rescue file, and
    // neither can take it all.
    const std::string big = program(4711, 1100);
    rlimit full = normal;
    full.rlim_cur = big.size() * 2 / 3;
    start();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    line->queueInput(big);
    run(3000);
    setrlimit(RLIMIT_FSIZE, &normal);

    ASSERT_EQ(outcomes("receive"), Names{"failed"});
    const JournalRecord failed = of("receive")[0];
    ASSERT_EQ(failed.parts.size(), 2u) << failed.detail;
    std::string joined;
    for (const FilePart& part : failed.parts) {
        const std::string bytes = fileBytes(part.file);
        EXPECT_EQ((std::pair{part.bytes, part.crc32}),
                  (std::pair{std::int64_t(bytes.size()), crcOf(bytes)}));
        EXPECT_NE(failed.detail.find(part.file), std::string::npos) << failed.detail;
        joined += bytes;
    }
    EXPECT_EQ(joined, big);
    EXPECT_EQ(failed.parts[0].file, config.incoming + "/O4711.nc.part1");

    // With room again, the next program is stored as usual.
    line->queueInput(program(4712));
    run(100);
    EXPECT_EQ(incoming("O4712.nc"), program(4712));
}

TEST_F(MachineHostTest, PendingTextReachesTheDiskWithinASecondOnALineThatNeverPauses) {
    start();
    std::string sent = "%\r\nO5\r\n";
    line->queueInput(sent);
    std::vector<size_t> sentAt;  // bytes sent by each 100 ms
    for (int tick = 0; tick < 40; ++tick) {
        run(100);
        sentAt.push_back(sent.size());
        std::string onDisk;
        for (const std::string& name : files()) onDisk += incoming(name);
        // Everything sent more than a second ago (and a pass) is on the disk.
        if (tick >= 11) {
            ASSERT_GE(onDisk.size(), sentAt[tick - 11]) << "at " << tick * 100 << " ms";
            EXPECT_EQ(onDisk, sent.substr(0, onDisk.size()));
        }
        const std::string block = "N" + std::to_string(tick) + " G01 X1.5\r\n";
        line->queueInput(block);
        sent += block;
    }
}

TEST_F(MachineHostTest, RequestsAreAnsweredAtTheMachinesDc1HeldAtItsDc3AndNamesThatLeaveTheFolderNotFound) {
    const std::string answer = program(5001);
    writeWholeFile(config.folder + "/O5001.nc", answer);
    writeWholeFile(dir.file("secret.nc"), "%\r\nSECRET\r\n%");
    start();
    // The DC1 may come in the same read as the request; a DC3 holds the
    // answer, and the board says for how long.
    line->queueInput("%\r\n(LOAD O5001)\r\n%" + std::string{kDC1, kDC3});
    run(3000);
    const std::string held = "held by DC3 for ";
    const std::string first = host->stateText();
    ASSERT_EQ(first.substr(0, held.size()), held);
    run(2000);
    EXPECT_EQ(host->stateText(),
              held + std::to_string(std::stoi(first.substr(held.size())) + 2) + " s");
    EXPECT_LT(withoutFlowControl(line->written).size(), answer.size());
    line->queueInput({kDC1});
    run(1000);
    line->queueInput("%\r\n(LOAD O4)\r\n%");
    run(2500);
    EXPECT_NE(host->stateText().find("for DC1"), std::string::npos) << host->stateText();
    line->queueInput({kDC1});
    run(1000);
    line->queueInput("%\r\n(LOAD ../secret)\r\n%\x11");
    run(3000);
    EXPECT_EQ(withoutFlowControl(line->written),
              answer + "%\r\n(O4 NOT FOUND)\r\n%%\r\n(../SECRET NOT FOUND)\r\n%");
    EXPECT_EQ(outcomes("request"), (Names{"found", "not found", "refused"}));
    EXPECT_EQ(outcomes("send"), (Names{"sent", "sent", "sent"}));
    EXPECT_EQ(of("send")[0].bytes, static_cast<std::int64_t>(answer.size()));
    EXPECT_TRUE(outcomes("receive").empty());
    EXPECT_TRUE(files().empty());
}

TEST_F(MachineHostTest, ALostLineIsOpenedAgainEveryFiveSecondsEachNewReasonJournaledOnce) {
    start();
    line->queueInput("%\r\nO3\r\nG01 X1\r\n");
    run(1000);
    line->pullCable();
    run(500);
    EXPECT_EQ(incoming("O3.nc.partial"), "%\r\nO3\r\nG01 X1\r\n");
    EXPECT_EQ(outcomes("receive"), Names{"partial"});
    const std::string state = host->stateText();
    EXPECT_EQ(state.substr(0, 16), "line lost since ");
    EXPECT_NE(state.find("(memory port: cable pulled), retrying every 5 s"), std::string::npos)
        << state;

    // The cable is back but the device refuses to open: a new reason.
    const size_t before = opens();
    line->failAfter(-1);
    line->openResult = SIO_OPENFAIL;
    run(4400);
    EXPECT_EQ(opens(), before);
    run(10000);
    EXPECT_EQ(opens(), before + 2);
    line->openResult = SIO_OK;
    run(5000);
    const auto lines = of("line");
    ASSERT_EQ(outcomes("line"), (Names{"lost", "lost", "reopened"}));
    EXPECT_EQ(lines[1].detail.substr(0, 26), "memory port: open refused;");
    EXPECT_EQ(host->stateText(), "listening");
    line->queueInput("%\r\nO8\r\n%");
    run(100);
    EXPECT_EQ(incoming("O8.nc"), "%\r\nO8\r\n%");
}

TEST_F(MachineHostTest, ContinuousReceptionEndsAfterItsQuietSpellOrAsPartialAtTheStop) {
    config.receive = ReceiveMode::Continuous;
    config.idleSeconds = 1;
    start();
    // Nothing tells the tape code until the CR: the first bytes wait, and
    // the program's time still counts from them.
    line->queueInput("O6 G1");
    run(300);
    line->queueInput("\r\nG2\r\n");
    run(600);
    EXPECT_EQ(host->stateText(), "receiving 11 bytes");
    run(2500);
    EXPECT_EQ(incoming("O6.nc"), "O6 G1\r\nG2\r\n");
    EXPECT_NEAR(of("receive")[0].seconds, 0.3, 0.01);

    line->queueInput("O7\r\nG2\r\n");
    run(700);
    host->terminate();
    run(100);
    EXPECT_TRUE(host->done());
    EXPECT_EQ(incoming("O7.nc.partial"), "O7\r\nG2\r\n");
    EXPECT_EQ(outcomes("receive"), (Names{"stored", "partial"}));
    EXPECT_EQ(files(), (Names{"O6.nc", "O7.nc.partial"}));
}

// An in-memory line that says when its machine has let it go.
class KeptPort : public MemorySerialPort {
public:
    explicit KeptPort(bool& released) : m_released(released) {}
    ~KeptPort() override { m_released = !open; }

private:
    bool& m_released;
};

class ShopReloadTest : public ::testing::Test {
protected:
    void run(int ms) {
        for (int t = 0; t < ms; t += 5) {
            shop.runOnce(-1, 0);
            clock.advance(5);
        }
    }
    size_t opens(const std::string& name) const {
        const MemorySerialPort* port = ports.at(name);
        return std::count_if(port->calls.begin(), port->calls.end(),
                             [](const MemorySerialPort::Call& c) { return c.op == "open"; });
    }

    test::TempDir dir;
    FakeClock clock;
    Journal journal;
    std::map<std::string, MemorySerialPort*> ports;  // by device; the last one made
    std::map<std::string, bool> released;            // closed and given up
    Shop shop{clock, journal, [this](const std::string& device) {
                  const std::string name = device.substr(5);
                  auto port = std::make_unique<KeptPort>(released[name]);
                  ports[name] = port.get();
                  return port;
              }};
};

TEST_F(ShopReloadTest, ChangedMachinesFinishFirstAndKeepTheirLineTheOthersAreUntouched) {
    ShopConfig first;
    first.machines = {machineIn(dir, "mill", "a"), machineIn(dir, "lathe", "b"),
                      machineIn(dir, "drill", "d")};
    shop.apply(first);
    run(100);
    MemorySerialPort* mill = ports.at("mill");
    MemorySerialPort* drill = ports.at("drill");
    mill->queueInput("%\r\nO1\r\nG01 X1\r\n");
    drill->queueInput("%\r\nO4\r\n");
    run(1000);

    ShopConfig second;
    second.machines = {machineIn(dir, "mill", "c"), machineIn(dir, "drill", "d"),
                       machineIn(dir, "saw", "e")};
    shop.apply(second);
    run(500);
    // The mill's program, begun under the old settings, ends there.
    mill->queueInput("M30\r\n%");
    drill->queueInput("G00 X4\r\n%");
    run(3000);
    EXPECT_EQ(fileBytes(dir.file("a/incoming/O1.nc")), "%\r\nO1\r\nG01 X1\r\nM30\r\n%");
    EXPECT_EQ(fileBytes(dir.file("d/incoming/O4.nc")), "%\r\nO4\r\nG00 X4\r\n%");

    // Then it runs with the new ones, on the line it had, and the machine
    // that was removed has let its line go.
    mill->queueInput("%\r\nO2\r\n%");
    run(2000);
    EXPECT_EQ(fileBytes(dir.file("c/incoming/O2.nc")), "%\r\nO2\r\n%");
    EXPECT_EQ(ports.at("mill"), mill);
    EXPECT_EQ(opens("mill"), 1u);
    EXPECT_EQ(opens("drill"), 1u);
    EXPECT_TRUE(released["lathe"]);
    EXPECT_FALSE(released["mill"]);
    EXPECT_TRUE(ports.at("saw")->open);
    std::vector<std::string> names;
    for (const MachineState& s : shop.states()) names.push_back(s.name + ": " + s.state);
    EXPECT_EQ(names,
              (std::vector<std::string>{"mill: listening", "drill: listening", "saw: listening"}));
}

// The line a machine keeps while engines come and go on it: engines do not
// reset it, an answer waits for the machine's DC1, and a machine that sends
// faster than its programs are taken is held. (That a reception reads through
// its closing mark and no further, the shop host's cases prove.)

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
    // same parameters were not set again; no write sleeps in the service.
    EXPECT_FALSE(line->writesWait);
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
