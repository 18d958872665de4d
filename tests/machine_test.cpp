#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
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

size_t countOf(const std::string& text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// ferobrixlan-machine run as a child process in a directory of its own (its
// line ttyMACHINE, its stderr machine.err), and the PC's end of that line
// through the system's own serial layer.
class Bench {
public:
    ~Bench() {
        if (m_pid > 0 && exitCode(0.0) == kStillRunning) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    void spawn(std::vector<std::string> args) {
        args.insert(args.begin(), FBX_MACHINE_EXE);
        args.insert(args.end(), {"--link", link()});
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("machine.err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    // Spawns the machine and opens the PC's end of its line at 57600 8N1.
    void start(const std::vector<std::string>& args) {
        spawn(args);
        for (double until = now() + 5.0; !linkExists() && now() < until;) sleepMs(5);
        ASSERT_EQ(m_port.sio_open(1), SIO_OK);
        ASSERT_EQ(m_port.sio_ioctl(1, 15, 3), SIO_OK);
    }
    // Punches the text with the options, the PC taking it from the first byte.
    void punch(const std::string& text, std::vector<std::string> options) {
        std::ofstream(dir.file("prog.nc"), std::ios::binary) << text;
        options.insert(options.begin(), {"punch", dir.file("prog.nc"), "--quiet", "--wait", "0.1"});
        start(options);
    }

    std::string link() const { return dir.file("ttyMACHINE"); }
    bool linkExists() const {
        struct stat st {};
        return ::lstat(link().c_str(), &st) == 0;
    }
    std::string stored() const { return test::fileBytes(dir.file("stored.nc")); }
    std::string narration() const { return test::fileBytes(dir.file("machine.err")); }
    // The key=value lines of the summary.
    std::map<std::string, std::string> summary() const {
        std::map<std::string, std::string> values;
        std::istringstream in(narration());
        for (std::string line; std::getline(in, line);) {
            auto eq = line.find('=');
            if (eq == std::string::npos || line[0] == '#' || line.find(' ') < eq) continue;
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return values;
    }

    static constexpr int kStillRunning = -100;

    // The exit code, waiting up to the given time; kStillRunning if it has not ended.
    int exitCode(double seconds = 10.0) {
        for (double until = now() + seconds; !m_done; sleepMs(5)) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (now() >= until) {
                return kStillRunning;
            }
        }
        return m_code;
    }

    // The PC takes what is waiting; DC3 and DC1 set and clear the hold.
    void pump() {
        char buffer[kReadBufferSize];
        for (int n; (n = m_port.sio_read(1, buffer, kReadBufferSize)) != 0;) {
            if (n < 0) {
                lost = lost || n == SIO_PORTLOST;
                return;
            }
            for (int i = 0; i < n; ++i)
                if (buffer[i] == kDC3 || buffer[i] == kDC1) held = buffer[i] == kDC3;
            received.append(buffer, static_cast<size_t>(n));
            m_lastByteAt = now();
        }
    }
    // Sends one byte per pass, not while held, as the send engine does; with
    // bytesPerMs no faster than a UART would take them (38400 baud: about 4 a
    // millisecond). False when the port was lost or held for too long.
    bool sendObeying(const std::string& data, int bytesPerMs = 0) {
        for (size_t sent = 0; sent < data.size(); ++sent) {
            if (bytesPerMs > 0 && sent % bytesPerMs == 0) sleepMs(1);
            for (double until = now() + 5.0;;) {
                pump();
                if (lost || now() > until) return false;
                if (held) {
                    m_port.waitForInput(20);
                    continue;
                }
                const int r = m_port.sio_putch(1, static_cast<unsigned char>(data[sent]));
                if (r == SIO_PORTLOST) lost = true;
                if (r == SIO_OK) break;  // SIO_WRITETIMEOUT: not sent, try again
            }
        }
        return true;
    }
    bool put(char c) { return m_port.sio_putch(1, static_cast<unsigned char>(c)) == SIO_OK; }
    void close() { m_port.sio_close(1); }

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

    test::TempDir dir;
    std::string received;
    bool held = false;
    bool lost = false;

private:
    PosixSerialPort m_port{[link = link()](int) { return link; }};
    double m_lastByteAt = 0;
    pid_t m_pid = -1;
    bool m_done = false;
    int m_code = kStillRunning;
};

class MachineTest : public ::testing::Test, protected Bench {};

}  // namespace

TEST_F(MachineTest, ReceiveSendsTheStartSignalThenStoresEveryByteOnceAndInOrderThroughManyHolds) {
    // A PC writing at memory speed outruns the DC3 through the pty; this one
    // sends like a 38400-baud line, faster than the controller's 1000 bytes/s.
    const std::string data = program(45);
    start({"receive", "--start-dc1", "--wait", "0.1", "--buffer", "64", "--drain", "1000", "--out",
           dir.file("stored.nc")});
    held = true;  // like modes "Data In/Out" and "DNC": nothing goes out before the DC1
    ASSERT_TRUE(sendObeying(data, 4));
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0], kDC1) << "the start signal comes first";
    settle(0.3);
    close();

    ASSERT_EQ(exitCode(), 0) << narration();
    EXPECT_EQ(stored(), data);
    auto s = summary();
    EXPECT_EQ(s["end"], "pc-closed");
    EXPECT_EQ(s["bytes-received"], std::to_string(data.size()));
    EXPECT_EQ(s["crc32"], crcOf(data));
    const size_t dc3 = countOf(received, kDC3);
    EXPECT_GE(dc3, 3u) << "the buffer should have filled several times" << narration();
    EXPECT_EQ(s["dc3-sent"], std::to_string(dc3));
    EXPECT_EQ(s["dc1-sent"], std::to_string(countOf(received, kDC1)));
    EXPECT_EQ(countOf(s["overrun"], ',') + 1, dc3) << "one overrun figure per DC3";
    // Every DC3 is answered by a DC1 before the next (a start signal again
    // may follow the program once the line is quiet).
    for (size_t i = 1; i < std::min(received.size(), received.rfind(kDC3) + 2); ++i)
        EXPECT_EQ(received[i], i % 2 == 1 ? kDC3 : kDC1) << "at " << i;
}

TEST_F(MachineTest, OverrunCountsOnlyWhatThePcSentAfterTheDc3WentOut) {
    // 100 bytes at once wait on the line for a machine that reads at 19200
    // baud: at its DC3 the rest are queued, on time. Three more sent after the
    // DC3 arrived are the overrun.
    start({"receive", "--quiet", "--baud", "19200", "--buffer", "400", "--high", "40", "--low",
           "10", "--drain", "200"});
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(put('G'));
    readUntil(5.0, [&] { return held; });
    ASSERT_TRUE(held);
    for (char c : {'X', 'Y', 'Z'}) ASSERT_TRUE(put(c));
    readUntil(10.0, [&] { return !held; });
    close();
    ASSERT_EQ(exitCode(), 0) << narration();
    auto s = summary();
    EXPECT_EQ(s["overrun"], "3");
    EXPECT_GT(std::stoi(s["queued-at-dc3"]), 40) << narration();
    EXPECT_EQ(std::stoi(s["read-after-dc3"]), std::stoi(s["queued-at-dc3"]) + 3);
}

TEST_F(MachineTest, AStalledReceiveSendsDc3AndThenNothing) {
    start({"receive", "--quiet", "--stall-after", "30", "--buffer", "100", "--out",
           dir.file("stored.nc")});
    const std::string data(37, 'G');
    ASSERT_TRUE(sendObeying(data.substr(0, 30)));
    listen(0.3);
    EXPECT_EQ(received, std::string(1, kDC3));
    for (char c : data.substr(30)) ASSERT_TRUE(put(c));  // held or not
    listen(0.5);
    EXPECT_EQ(received, std::string(1, kDC3)) << "no DC1 may follow";
    close();

    ASSERT_EQ(exitCode(), 0) << narration();
    auto s = summary();
    EXPECT_EQ(s["stalled"], "yes");
    EXPECT_EQ(s["dc3-sent"], "1");
    EXPECT_EQ(s["dc1-sent"], "0");
    EXPECT_EQ(s["overrun"], "7");
    EXPECT_EQ(stored(), data);
}

TEST_F(MachineTest, IdleEndsAReceiveAndCountsDwellBlocks) {
    start({"receive", "--quiet", "--idle", "0.3"});
    // A DNC hold: the rest of the block, then dwell blocks until resumed.
    ASSERT_TRUE(sendObeying("N10G01X5.\r\nG4X0.001\r\nG4X0.001\r\nGG4X0.001\r\nG4X0.01\r\n"));
    EXPECT_EQ(exitCode(3.0), 0) << narration();
    listen(1.0);
    EXPECT_TRUE(lost) << "the PC sees the line go when the machine ends";
    EXPECT_EQ(summary()["end"], "idle");
    EXPECT_EQ(summary()["dwell-blocks"], "3");
}

TEST_F(MachineTest, PunchHoldsOnDc3AndGoesOnAtDc1WithoutLossOrDoubling) {
    const std::string text = program(100);
    punch(text, {"--baud", "38400"});
    collect(600, 3.0);
    ASSERT_TRUE(put(kDC3));
    listen(0.25);  // what was already on its way
    const size_t atHold = received.size();
    listen(0.3);
    EXPECT_EQ(received.size(), atHold) << "nothing may come while held";
    EXPECT_LT(atHold, text.size());
    ASSERT_TRUE(put(kDC1));
    collect(text.size(), 5.0);
    listen(0.1);
    EXPECT_EQ(received, text);
    close();
    ASSERT_EQ(exitCode(), 0) << narration();
    EXPECT_EQ(summary()["dc3-received"], "1");
    EXPECT_EQ(summary()["dc1-received"], "1");
}

TEST_F(MachineTest, AFileInThePlaceOfTheLinkIsLeftAlone) {
    std::ofstream(link()) << "keep me";
    spawn({"receive", "--quiet"});
    EXPECT_EQ(exitCode(), machine::kExitError);
    EXPECT_EQ(test::fileBytes(link()), "keep me");
}
