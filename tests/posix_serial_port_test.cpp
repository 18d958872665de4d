#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "PortMap.h"
#include "PosixSerialPort.h"
#include "TempDir.h"

using namespace fbx;

namespace {

// A fresh pseudo-terminal pair: the port opens the slave, the test holds the
// master as the machine's end of the cable.
class PtyPair : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        int slave = -1;
        ASSERT_EQ(openpty(&m_master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        m_slaveName = name;
        int flags = fcntl(m_master, F_GETFL);
        fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        m_port = std::make_unique<PosixSerialPort>([this](int n) {
            return n == 1 ? m_slaveName : std::string("/nonexistent/tty");
        });
        ASSERT_EQ(m_port->sio_open(1), SIO_OK) << m_port->lastError();
        ASSERT_EQ(m_port->sio_ioctl(1, 15, 3), SIO_OK) << m_port->lastError();
    }
    void TearDown() override {
        m_port.reset();
        if (m_master >= 0) ::close(m_master);
    }

    // What the machine receives, waiting up to a second for count bytes.
    std::string machineReads(size_t count) {
        std::string got;
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (got.size() < count && std::chrono::steady_clock::now() < until) {
            char buf[1024];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            else usleep(1000);
        }
        return got;
    }

    void machineWrites(const std::string& bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        usleep(20000);  // let the line discipline pass it on
    }

    int m_master = -1;
    std::string m_slaveName;
    std::unique_ptr<PosixSerialPort> m_port;
};

}  // namespace

TEST_F(PtyPair, SpeedAndStopBitsAreApplied) {
    EXPECT_TRUE(m_port->isPseudoTerminal());
    ASSERT_EQ(m_port->sio_ioctl(1, 12, 30), SIO_OK) << m_port->lastError();  // 9600 7E2
    termios t{};
    ASSERT_EQ(tcgetattr(m_master, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));

    ASSERT_EQ(m_port->sio_ioctl(1, 7, 3), SIO_OK);  // 1200 8N1
    ASSERT_EQ(tcgetattr(m_master, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B1200);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
}

TEST(LineSettings, DecodedTermiosCarriesDataBitsAndParity) {
    LineSettings line;
    ASSERT_TRUE(decodeLineSettings(12, 30, line));
    EXPECT_EQ(line.baud, 9600);
    EXPECT_EQ(line.dataBits, 7);
    EXPECT_EQ(line.parity, 'e');
    EXPECT_EQ(line.stopBits, 2);
    termios t{};
    applyLineSettings(line, t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    ASSERT_TRUE(decodeLineSettings(13, 1 | 8, line));  // 6O1
    applyLineSettings(line, t);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
    EXPECT_TRUE(t.c_cflag & PARODD);
    EXPECT_FALSE(t.c_cflag & CSTOPB);

    const std::pair<int, int> bauds[] = {{5, 300},     {6, 600},     {7, 1200},  {9, 2400},
                                         {10, 4800},   {12, 9600},   {13, 19200}, {14, 38400},
                                         {15, 57600}};
    for (auto [code, baud] : bauds) {
        ASSERT_TRUE(decodeLineSettings(code, 3, line)) << code;
        EXPECT_EQ(line.baud, baud);
    }
    // Only the codes the settings produce: 0 (a rate the settings did not
    // know) must never open the line at 50 baud.
    for (int code : {0, 1, 4, 8, 11, 16, 19, 99})
        EXPECT_FALSE(decodeLineSettings(code, 3, line)) << code;
    EXPECT_FALSE(decodeLineSettings(12, 0x10, line));
    EXPECT_FALSE(decodeLineSettings(12, 0x40, line));
}

TEST_F(PtyPair, UnknownCodesMakeIoctlFail) {
    EXPECT_EQ(m_port->sio_ioctl(1, 11, 3), SIO_BADPARM);
    EXPECT_EQ(m_port->sio_ioctl(1, 12, 0x23), SIO_BADPARM);
    EXPECT_EQ(m_port->sio_ioctl(2, 12, 3), SIO_BADPORT);
}

TEST_F(PtyPair, EveryByteValuePassesUnchangedBothWays) {
    const std::string special("\0\x11\x13\x80\xff\r\n\x7f", 8);
    for (char c : special) ASSERT_EQ(m_port->sio_putch(1, static_cast<unsigned char>(c)), SIO_OK);
    EXPECT_EQ(machineReads(special.size()), special);

    machineWrites(special);
    char buf[512];
    int n = m_port->sio_read(1, buf, 512);
    ASSERT_EQ(n, static_cast<int>(special.size()));
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), special);
}

TEST_F(PtyPair, ReadsReturnAtOnceAndTakeAtMost512) {
    char buf[512];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(m_port->sio_read(1, buf, 512), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));

    machineWrites(std::string(600, 'x'));
    EXPECT_EQ(m_port->sio_read(1, buf, 512), 512);
    EXPECT_EQ(m_port->sio_read(1, buf, 512), 88);
    EXPECT_EQ(m_port->sio_read(1, buf, 512), 0);
}

TEST_F(PtyPair, FlushDiscardsWaitingInput) {
    machineWrites("G00 X0\r\n");
    EXPECT_EQ(m_port->sio_flush(1, FLUSH_BOTH), SIO_OK);
    char buf[512];
    EXPECT_EQ(m_port->sio_read(1, buf, 512), 0);
}

TEST_F(PtyPair, ModemLinesAreAcceptedAndDsrReadsOn) {
    EXPECT_EQ(m_port->sio_DTR(1, 0), SIO_OK);
    EXPECT_EQ(m_port->sio_DTR(1, 1), SIO_OK);
    EXPECT_EQ(m_port->sio_RTS(1, 1), SIO_OK);
    EXPECT_TRUE(m_port->sio_lstatus(1) & S_DSR);
}

TEST_F(PtyPair, AClosedPeerIsReportedAsALostDevice) {
    ::close(m_master);
    m_master = -1;
    char buf[512];
    EXPECT_EQ(m_port->sio_read(1, buf, 512), SIO_PORTLOST);
    EXPECT_EQ(m_port->sio_putch(1, 'A'), SIO_PORTLOST);
    EXPECT_NE(m_port->lastError().find(m_slaveName), std::string::npos);
}

TEST_F(PtyPair, APortCannotBeOpenedTwice) {
    EXPECT_NE(m_port->sio_open(1), SIO_OK);
    EXPECT_EQ(m_port->sio_close(1), SIO_OK);
    EXPECT_EQ(m_port->sio_open(1), SIO_OK);
}

TEST(PosixSerialPort, OpenFailuresSayWhy) {
    test::TempDir dir;
    std::string plain = dir.file("not-a-tty");
    ASSERT_EQ(::close(::open(plain.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    PosixSerialPort port([&](int n) { return n == 1 ? dir.file("missing") : plain; });
    EXPECT_EQ(port.sio_open(1), SIO_OPENFAIL);
    EXPECT_NE(port.lastError().find(dir.file("missing")), std::string::npos);
    EXPECT_EQ(port.sio_open(2), SIO_OPENFAIL);
    EXPECT_NE(port.lastError().find("not a serial device"), std::string::npos);
    EXPECT_EQ(port.sio_read(2, nullptr, 0), SIO_BADPORT);
}

TEST(PosixSerialPort, PortMapping) {
    unsetenv("FEROBRIXLAN_PORT2");
    EXPECT_EQ(portDevicePath(1 + 1), "/dev/ttyS1");
    setenv("FEROBRIXLAN_PORT2", "/dev/ttyUSB0", 1);
    EXPECT_EQ(portDevicePath(2), "/dev/ttyUSB0");
    unsetenv("FEROBRIXLAN_PORT2");
    EXPECT_EQ(portDevicePath(0), "");
}
