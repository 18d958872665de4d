#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cstdlib>

#include "PosixSerialPort.h"

using namespace fbx;

// What the serial layer does to the device itself: the line settings it
// programs, what it leaves behind, and who else may open the line. A
// pseudo-terminal carries the termios settings as a UART does (apart from
// data bits and parity) and the test holds its master to look at them.
namespace {

class Device : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        int slave = -1;
        ASSERT_EQ(openpty(&m_master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        m_slave = name;
        m_port = std::make_unique<PosixSerialPort>([this](int) { return m_slave; });
    }
    void TearDown() override {
        m_port.reset();
        ::close(m_master);
        unsetenv(kPacePtyVariable);
    }
    termios lineNow() {
        termios t{};
        EXPECT_EQ(tcgetattr(m_master, &t), 0);
        return t;
    }

    int m_master = -1;
    std::string m_slave;
    std::unique_ptr<PosixSerialPort> m_port;
};

// Opens the line in a child process, as an ordinary user when the test runs
// as root (root may open a line that another program holds exclusively).
// 0: opened, else the errno of the failed open.
int openFromAnotherProgram(const std::string& device) {
    if (geteuid() == 0) chmod(device.c_str(), 0666);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) _exit(250);
        int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// The line as another program left it (software flow control both ways,
// canonical input, 2400 baud) is taken over wholly while the port is open,
// and given back as it was when the port closes.
TEST_F(Device, SettingsAreReplacedWhileOpenAndGivenBackAtClose) {
    termios before = lineNow();
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST | ONLCR;
    cfsetispeed(&before, B2400);
    cfsetospeed(&before, B2400);
    ASSERT_EQ(tcsetattr(m_master, TCSANOW, &before), 0);
    before = lineNow();

    ASSERT_EQ(m_port->sio_open(1), SIO_OK) << m_port->lastError();
    ASSERT_EQ(m_port->sio_ioctl(1, 12, 30), SIO_OK) << m_port->lastError();
    termios open = lineNow();
    EXPECT_FALSE(open.c_iflag & IXOFF) << "the line would send DC1/DC3 of its own";
    EXPECT_FALSE(open.c_iflag & (IXON | IXANY)) << "the line would swallow the machine's DC1/DC3";
    EXPECT_FALSE(open.c_iflag & ICRNL);
    EXPECT_FALSE(open.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(open.c_oflag & OPOST);
    EXPECT_EQ(cfgetospeed(&open), B9600);

    ASSERT_EQ(m_port->sio_close(1), SIO_OK);
    termios after = lineNow();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), B2400);
}

TEST_F(Device, EveryBaudCodeProgramsItsOwnSpeed) {
    ASSERT_EQ(m_port->sio_open(1), SIO_OK) << m_port->lastError();
    const std::pair<int, speed_t> codes[] = {{5, B300},    {6, B600},    {7, B1200},
                                             {9, B2400},   {10, B4800},  {12, B9600},
                                             {13, B19200}, {14, B38400}, {15, B57600}};
    for (auto [code, speed] : codes) {
        ASSERT_EQ(m_port->sio_ioctl(1, code, 3), SIO_OK) << code;
        termios t = lineNow();
        EXPECT_EQ(cfgetospeed(&t), speed) << "baud code " << code;
        EXPECT_EQ(cfgetispeed(&t), speed) << "baud code " << code;
    }
}

// While a transfer owns the line, a second program cannot open it (a
// terminal program started by mistake would take the machine's bytes).
TEST_F(Device, NoOtherProgramOpensTheLineWhileItIsOpen) {
    ASSERT_EQ(m_port->sio_open(1), SIO_OK) << m_port->lastError();
    ASSERT_EQ(m_port->sio_ioctl(1, 12, 30), SIO_OK);
    EXPECT_EQ(openFromAnotherProgram(m_slave), EBUSY);
    ASSERT_EQ(m_port->sio_close(1), SIO_OK);
    EXPECT_EQ(openFromAnotherProgram(m_slave), 0);
}

TEST(ModemBits, EachLineReadsAsItself) {
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_CTS), S_CTS);
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_DSR), S_DSR);
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_CD | TIOCM_RI), S_CD | S_RI);
    // The PC's own outputs are no status of the line.
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_DTR | TIOCM_RTS), 0);
}

// Asked to, a pseudo-terminal is paced as the line it stands for: at 1200
// baud the fifth byte in a row is "not sent, try again". Unasked, it is not.
TEST_F(Device, APacedPseudoTerminalRunsAtMostFourAhead) {
    for (bool paced : {true, false}) {
        SCOPED_TRACE(paced ? "paced" : "not paced");
        if (paced)
            setenv(kPacePtyVariable, "1", 1);
        else
            unsetenv(kPacePtyVariable);
        ASSERT_EQ(m_port->sio_open(1), SIO_OK) << m_port->lastError();
        ASSERT_EQ(m_port->sio_ioctl(1, 7, 30), SIO_OK);
        int accepted = 0;
        for (int i = 0; i < 10; ++i) accepted += m_port->sio_putch(1, 'A') == SIO_OK;
        EXPECT_EQ(accepted, paced ? LinePacer::kAhead : 10);
        ASSERT_EQ(m_port->sio_close(1), SIO_OK);
        tcflush(m_master, TCIOFLUSH);
    }
}
