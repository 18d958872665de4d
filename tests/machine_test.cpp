#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "MachineOptions.h"
#include "PosixSerialPort.h"
#include "Summary.h"
#include "TempDir.h"

using namespace fbx;

extern char** environ;

namespace {

constexpr char kDC1 = 17;
constexpr char kDC3 = 19;

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void sleepMs(int ms) {
    ::poll(nullptr, 0, ms);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string crcOf(const std::string& bytes) {
    machine::Crc32 crc;
    crc.update(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    char text[9];
    std::snprintf(text, sizeof text, "%08X", crc.value());
    return text;
}

// A program of the usual kind: numbered G-code blocks with CR LF line ends.
std::string program(int blocks) {
    std::string text = "%\r\nO1234\r\n";
    for (int i = 1; i <= blocks; ++i)
        text += "N" + std::to_string(i * 10) + "G01X" + std::to_string(i % 97) + ".5Y-" +
                std::to_string(i % 13) + ".25F" + std::to_string(100 + i % 400) + "\r\n";
    return text + "M30\r\n%\r\n";
}

// ferobrixlan-machine run as a child process, its stderr kept in a file.
class Machine {
public:
    Machine(const test::TempDir& dir, std::vector<std::string> args)
        : m_link(dir.file("ttyMACHINE")), m_stderr(dir.file("machine.err")) {
        args.insert(args.begin(), FBX_MACHINE_EXE);
        args.push_back("--link");
        args.push_back(m_link);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, m_stderr.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Machine() {
        if (m_pid > 0 && exitCode(0.0) == kStillRunning) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    const std::string& link() const { return m_link; }

    bool waitForLink(double seconds = 5.0) const {
        for (double until = now() + seconds; now() < until; sleepMs(5)) {
            struct stat st {};
            if (::lstat(m_link.c_str(), &st) == 0) return true;
        }
        return false;
    }

    static constexpr int kStillRunning = -100;

    // The exit code, waiting up to the given time; kStillRunning if it has not ended.
    int exitCode(double seconds = 10.0) {
        if (m_done) return m_code;
        for (double until = now() + seconds;; sleepMs(5)) {
            int status = 0;
            pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_done = true;
                m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return m_code;
            }
            if (now() >= until) return kStillRunning;
        }
    }

    void signal(int signo) const { ::kill(m_pid, signo); }

    // The key=value lines of the summary.
    std::map<std::string, std::string> summary() const {
        std::map<std::string, std::string> values;
        std::istringstream in(readFile(m_stderr));
        for (std::string line; std::getline(in, line);) {
            auto eq = line.find('=');
            if (eq == std::string::npos || line[0] == '#' || line.find(' ') < eq) continue;
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return values;
    }
    std::string narration() const { return readFile(m_stderr); }

private:
    std::string m_link;
    std::string m_stderr;
    pid_t m_pid = -1;
    bool m_done = false;
    int m_code = kStillRunning;
};

// The PC's end of the cable: the system's own serial layer on the link.
class Pc {
public:
    explicit Pc(const std::string& link) : m_port([link](int) { return link; }) {}

    bool open() {
        return m_port.sio_open(1) == SIO_OK && m_port.sio_ioctl(1, 15, 3) == SIO_OK;  // 57600 8N1
    }
    void close() { m_port.sio_close(1); }

    // Takes what is waiting; DC3 and DC1 set and clear the hold.
    void pump() {
        char buffer[kReadBufferSize];
        for (;;) {
            int n = m_port.sio_read(1, buffer, kReadBufferSize);
            if (n == SIO_PORTLOST) lost = true;
            if (n <= 0) return;
            for (int i = 0; i < n; ++i) {
                if (buffer[i] == kDC3) held = true;
                if (buffer[i] == kDC1) held = false;
            }
            received.append(buffer, static_cast<size_t>(n));
            m_lastByteAt = now();
        }
    }

    // Sends one byte per pass, not while held, as the send engine does.
    // With bytesPerMs the bytes go out no faster than a UART would take them
    // (38400 baud: about 4 a millisecond). False when the port was lost or
    // the machine held the line too long.
    bool sendObeying(const std::string& data, int bytesPerMs = 0) {
        for (char c : data) {
            if (bytesPerMs > 0 && sent % bytesPerMs == 0) sleepMs(1);
            for (double until = now() + 5.0;;) {
                pump();
                if (lost || now() > until) return false;
                if (held) {
                    m_port.waitForInput(20);
                    continue;
                }
                int r = m_port.sio_putch(1, static_cast<unsigned char>(c));
                if (r == SIO_PORTLOST) lost = true;
                if (r == SIO_OK) break;  // SIO_WRITETIMEOUT: not sent, try again
            }
            ++sent;
        }
        return true;
    }

    // Writes the bytes at once, whatever the machine says.
    void sendIgnoring(const std::string& data) {
        ASSERT_EQ(::write(m_port.nativeHandle(), data.data(), data.size()),
                  static_cast<ssize_t>(data.size()));
        sent += static_cast<long>(data.size());
    }

    // Reads until done() holds, the port is lost or the time is up.
    template <class Done>
    void readUntil(double seconds, Done done) {
        for (double until = now() + seconds; !done() && !lost && now() < until;) {
            m_port.waitForInput(10);
            pump();
        }
    }
    void collect(size_t count, double seconds) {
        readUntil(seconds, [&] { return received.size() >= count; });
    }
    void listen(double seconds) {
        readUntil(seconds, [] { return false; });
    }
    // Reads until the machine is not holding and has been silent for quietSeconds.
    void settle(double quietSeconds) {
        m_lastByteAt = now();
        readUntil(5.0, [&] { return !held && now() - m_lastByteAt >= quietSeconds; });
    }

    SerialPort& port() { return m_port; }

    std::string received;
    bool held = false;
    bool lost = false;
    long sent = 0;

private:
    PosixSerialPort m_port;
    double m_lastByteAt = 0;
};

size_t countOf(const std::string& text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

// ---------------------------------------------------------------------------
// receive

TEST(MachineReceive, StartSignalThenEveryByteOnceAndInOrderThroughManyHolds) {
    test::TempDir dir;
    // A PC writing at memory speed outruns the DC3 through the pty; this one
    // sends like a 38400-baud line, faster than the controller's 1000 bytes/s.
    const std::string data = program(45);
    Machine machine(dir, {"receive", "--start-dc1", "--wait", "0.1", "--buffer", "64", "--drain",
                          "1000", "--out", dir.file("stored.nc")});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());

    // Like modes "Data In/Out" and "DNC": nothing goes out before the DC1.
    pc.held = true;
    ASSERT_TRUE(pc.sendObeying(data, 4));
    ASSERT_FALSE(pc.received.empty());
    EXPECT_EQ(pc.received[0], kDC1) << "the start signal comes first";
    pc.settle(0.3);
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    EXPECT_EQ(readFile(dir.file("stored.nc")), data);
    auto s = machine.summary();
    EXPECT_EQ(s["end"], "pc-closed");
    EXPECT_EQ(s["bytes-received"], std::to_string(data.size()));
    EXPECT_EQ(s["crc32"], crcOf(data));
    const size_t dc3 = countOf(pc.received, kDC3);
    EXPECT_GE(dc3, 3u) << "the buffer should have filled several times" << machine.narration();
    EXPECT_EQ(s["dc3-sent"], std::to_string(dc3));
    EXPECT_EQ(s["dc1-sent"], std::to_string(countOf(pc.received, kDC1)));
    EXPECT_EQ(countOf(s["overrun"], ',') + 1, dc3) << "one overrun figure per DC3";
    // The control bytes alternate: every DC3 is answered by a DC1 before the next.
    std::string controls = pc.received.substr(1);
    for (size_t i = 0; i < controls.size(); ++i)
        EXPECT_EQ(controls[i], i % 2 == 0 ? kDC3 : kDC1) << "at " << i;
}

TEST(MachineReceive, APcThatIgnoresDc3OverrunsAFullBufferWithoutLosingAByte) {
    test::TempDir dir;
    // One byte taken out every 20 ms: the 15 bytes of one write reach high water.
    Machine machine(dir, {"receive", "--quiet", "--buffer", "20", "--high", "15", "--low", "5",
                          "--drain", "50", "--out", dir.file("stored.nc")});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    const std::string data = program(5).substr(0, 65);

    pc.sendIgnoring(data.substr(0, 15));
    pc.collect(1, 2.0);
    ASSERT_EQ(pc.received, std::string(1, kDC3)) << "DC3 expected at the high-water mark";
    pc.sendIgnoring(data.substr(15, 40));  // 40 bytes into a buffer with room for 5
    ASSERT_TRUE(pc.sendObeying(data.substr(55)));
    pc.settle(0.3);
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    EXPECT_EQ(readFile(dir.file("stored.nc")), data);
    auto s = machine.summary();
    EXPECT_EQ(s["overrun"].substr(0, s["overrun"].find(',')), "40");
    EXPECT_GE(std::stoi(s["overflow"]), 1);
    EXPECT_EQ(s["crc32"], crcOf(data));
}

TEST(MachineReceive, AStalledMachineSendsDc3AndThenNothing) {
    test::TempDir dir;
    Machine machine(dir, {"receive", "--quiet", "--stall-after", "30", "--buffer", "100", "--out",
                          dir.file("stored.nc")});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    const std::string data(37, 'G');
    ASSERT_TRUE(pc.sendObeying(data.substr(0, 30)));
    pc.listen(0.3);
    EXPECT_EQ(pc.received, std::string(1, kDC3));
    pc.sendIgnoring(data.substr(30));
    pc.listen(0.5);
    EXPECT_EQ(pc.received, std::string(1, kDC3)) << "no DC1 may follow";
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    auto s = machine.summary();
    EXPECT_EQ(s["stalled"], "yes");
    EXPECT_EQ(s["dc3-sent"], "1");
    EXPECT_EQ(s["dc1-sent"], "0");
    EXPECT_EQ(s["overrun"], "7");
    EXPECT_EQ(readFile(dir.file("stored.nc")), data);
}

TEST(MachineReceive, IdleEndsAReceiveAndCountsDwellBlocks) {
    test::TempDir dir;
    Machine machine(dir, {"receive", "--quiet", "--idle", "0.3"});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    // A DNC hold: the rest of the block, then dwell blocks until resumed.
    ASSERT_TRUE(pc.sendObeying("N10G01X5.\r\nG4X0.001\r\nG4X0.001\r\nGG4X0.001\r\nG4X0.01\r\n"));
    EXPECT_EQ(machine.exitCode(3.0), 0) << machine.narration();
    pc.listen(1.0);
    EXPECT_TRUE(pc.lost) << "the PC sees the line go when the machine ends";
    auto s = machine.summary();
    EXPECT_EQ(s["end"], "idle");
    EXPECT_EQ(s["dwell-blocks"], "3");
}

TEST(MachineReceive, PullAfterClosesTheLineMidTransfer) {
    test::TempDir dir;
    Machine machine(dir,
                    {"receive", "--quiet", "--pull-after", "100", "--out", dir.file("stored.nc")});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    const std::string data = program(30);
    pc.sendObeying(data);  // the pty may take it all before the machine pulls
    pc.listen(2.0);
    EXPECT_TRUE(pc.lost);

    EXPECT_EQ(machine.exitCode(), machine::kExitPulled) << machine.narration();
    auto s = machine.summary();
    EXPECT_EQ(s["end"], "pulled");
    EXPECT_EQ(s["bytes-received"], "100");
    EXPECT_EQ(readFile(dir.file("stored.nc")), data.substr(0, 100));
    struct stat st {};
    EXPECT_NE(::lstat(machine.link().c_str(), &st), 0) << "the link goes with the line";
}

// ---------------------------------------------------------------------------
// punch

TEST(MachinePunch, IsoWithLeaderGoesOutAsStored) {
    test::TempDir dir;
    const std::string text = "%\r\nO0001\r\nG01 X1.5 y-2\r\nM30\r\n%\r\n";
    writeFile(dir.file("prog.nc"), text);
    Machine machine(dir,
                    {"punch", dir.file("prog.nc"), "--quiet", "--leader", "5", "--wait", "0.1"});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    const std::string expected = std::string(5, '\0') + text;
    pc.collect(expected.size(), 3.0);
    pc.listen(0.1);
    EXPECT_EQ(pc.received, expected);
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    auto s = machine.summary();
    EXPECT_EQ(s["complete"], "yes");
    EXPECT_EQ(s["bytes-sent"], std::to_string(expected.size()));
    EXPECT_EQ(s["crc32"], crcOf(expected));
}

TEST(MachinePunch, EiaTranslatesEachCharacterAndEndsBlocksWith0x80) {
    test::TempDir dir;
    writeFile(dir.file("prog.nc"), "%\r\nG01X-1.5\r\n%\r\n");
    Machine machine(
        dir, {"punch", dir.file("prog.nc"), "--quiet", "--eia", "--leader", "3", "--wait", "0.1"});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    const std::string expected(
        "\x00\x00\x00"                          // leader
        "\x5B\x80"                              // % end-of-block
        "\x67\x20\x01\x37\x2D\x01\x2E\x15\x80"  // G 0 1 X - 1 . 5
        "\x5B\x80",
        16);
    pc.collect(expected.size(), 3.0);
    pc.listen(0.1);
    EXPECT_EQ(pc.received, expected);
    pc.close();
    EXPECT_EQ(machine.exitCode(), 0) << machine.narration();
}

TEST(MachinePunch, HoldsOnDc3AndGoesOnAtDc1WithoutLossOrDoubling) {
    test::TempDir dir;
    const std::string text = program(100);
    writeFile(dir.file("prog.nc"), text);
    Machine machine(dir,
                    {"punch", dir.file("prog.nc"), "--quiet", "--baud", "38400", "--wait", "0.1"});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());

    pc.collect(600, 3.0);
    ASSERT_EQ(pc.port().sio_putch(1, kDC3), SIO_OK);
    pc.listen(0.25);  // what was already on its way
    const size_t atHold = pc.received.size();
    pc.listen(0.3);
    EXPECT_EQ(pc.received.size(), atHold) << "nothing may come while held";
    ASSERT_EQ(pc.port().sio_putch(1, kDC1), SIO_OK);
    pc.collect(text.size(), 5.0);
    pc.listen(0.1);
    EXPECT_EQ(pc.received, text);
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    auto s = machine.summary();
    EXPECT_EQ(s["dc3-received"], "1");
    EXPECT_EQ(s["dc1-received"], "1");
}

TEST(MachinePunch, Dc3AndDc1AroundEveryReadLoseAndDoubleNothing) {
    test::TempDir dir;
    std::string text;
    for (int i = 0; i < 40000; ++i) text += static_cast<char>(' ' + (i * 7 + i / 91) % 90);
    writeFile(dir.file("prog.nc"), text);
    Machine machine(dir, {"punch", dir.file("prog.nc"), "--quiet", "--wait", "0.1", "--chunk",
                          "700", "--pause", "1"});
    ASSERT_TRUE(machine.waitForLink());
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open());
    // The receive engine's hand-over: XOFF, take the text, XON.
    char buffer[kReadBufferSize];
    int holds = 0;
    for (double until = now() + 10.0; pc.received.size() < text.size() && now() < until;) {
        int n = pc.port().sio_read(1, buffer, kReadBufferSize);
        ASSERT_GE(n, 0);
        if (n == 0) {
            pc.port().waitForInput(20);
            continue;
        }
        pc.port().sio_putch(1, kDC3);
        pc.received.append(buffer, static_cast<size_t>(n));
        pc.port().sio_putch(1, kDC1);
        ++holds;
    }
    pc.listen(0.1);
    EXPECT_EQ(pc.received.size(), text.size());
    EXPECT_TRUE(pc.received == text) << "the received text differs";
    pc.close();

    ASSERT_EQ(machine.exitCode(), 0) << machine.narration();
    auto s = machine.summary();
    EXPECT_EQ(s["dc3-received"], std::to_string(holds));
    EXPECT_EQ(s["other-received"], "0");
}

TEST(MachinePunch, PullAfterAndAPcThatLeavesEarly) {
    test::TempDir dir;
    const std::string text = program(100);
    writeFile(dir.file("prog.nc"), text);
    {
        Machine machine(
            dir, {"punch", dir.file("prog.nc"), "--quiet", "--wait", "0.1", "--pull-after", "50"});
        ASSERT_TRUE(machine.waitForLink());
        Pc pc(machine.link());
        ASSERT_TRUE(pc.open());
        pc.listen(3.0);
        EXPECT_TRUE(pc.lost);
        EXPECT_EQ(pc.received, text.substr(0, 50));
        EXPECT_EQ(machine.exitCode(), machine::kExitPulled) << machine.narration();
        EXPECT_EQ(machine.summary()["bytes-sent"], "50");
    }
    {
        Machine machine(
            dir, {"punch", dir.file("prog.nc"), "--quiet", "--wait", "0.1", "--baud", "9600"});
        ASSERT_TRUE(machine.waitForLink());
        Pc pc(machine.link());
        ASSERT_TRUE(pc.open());
        pc.collect(20, 3.0);
        pc.close();
        EXPECT_EQ(machine.exitCode(), machine::kExitIncomplete) << machine.narration();
        EXPECT_EQ(machine.summary()["complete"], "no");
    }
}

// ---------------------------------------------------------------------------
// the line, the command line, the summary

TEST(MachineLine, StopSignalRemovesTheLinkAndStaleLinksAreReplaced) {
    test::TempDir dir;
    ASSERT_EQ(::symlink("/dev/pts/nonexistent", dir.file("ttyMACHINE").c_str()), 0);
    Machine machine(dir, {"receive", "--quiet"});
    for (double until = now() + 5.0; now() < until; sleepMs(5)) {
        char target[256] = {};
        if (::readlink(machine.link().c_str(), target, sizeof target - 1) > 0 &&
            std::string(target) != "/dev/pts/nonexistent")
            break;
    }
    Pc pc(machine.link());
    ASSERT_TRUE(pc.open()) << "the stale link should point at the new line";
    machine.signal(SIGTERM);  // with the line open: a close would end the receive normally
    EXPECT_EQ(machine.exitCode(), machine::kExitInterrupted);
    pc.listen(1.0);
    EXPECT_TRUE(pc.lost);
    EXPECT_EQ(machine.summary()["end"], "interrupted");
    struct stat st {};
    EXPECT_NE(::lstat(machine.link().c_str(), &st), 0);
}

TEST(MachineLine, AFileInThePlaceOfTheLinkIsLeftAlone) {
    test::TempDir dir;
    writeFile(dir.file("ttyMACHINE"), "keep me");
    Machine machine(dir, {"receive", "--quiet"});
    EXPECT_EQ(machine.exitCode(), machine::kExitError);
    EXPECT_EQ(readFile(dir.file("ttyMACHINE")), "keep me");
}

TEST(MachineOptions, BadCommandLinesAreRefused) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"transmit"},
        {"punch"},                         // no FILE
        {"receive", "extra"},              // receive stores with --out
        {"receive", "--eia"},              // a punch option
        {"punch", "f.nc", "--start-dc1"},  // a receive option
        {"receive", "--baud"},             // value missing
        {"receive", "--baud", "fast"},
        {"receive", "--baud", "0"},
        {"receive", "--idle", "-1"},
        {"receive", "--buffer", "100", "--high", "101"},
        {"receive", "--high", "40", "--low", "40"},
        {"punch", "f.nc", "--pause", "10"},  // pauses between chunks only
        {"receive", "--quiet=yes"},
        {"receive", "--bogus"},
    };
    for (const auto& args : bad) {
        std::vector<const char*> argv{"ferobrixlan-machine"};
        argv.insert(argv.end(), args.begin(), args.end());
        machine::MachineOptions o;
        std::string error;
        EXPECT_FALSE(
            machine::ParseMachineOptions(static_cast<int>(argv.size()), argv.data(), o, error))
            << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(MachineSummary, CrcIsTheZlibCrc32) {
    EXPECT_EQ(crcOf("123456789"), "CBF43926");
    EXPECT_EQ(crcOf(""), "00000000");
    machine::Crc32 split;
    split.update(reinterpret_cast<const std::uint8_t*>("1234"), 4);
    split.update(reinterpret_cast<const std::uint8_t*>("56789"), 5);
    EXPECT_EQ(split.value(), 0xCBF43926u);
}
