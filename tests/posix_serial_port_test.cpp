#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <map>
#include <set>
#include <tuple>

#include "PosixSerialPort.h"
#include "ProTool.h"

using namespace fbx;

// The serial layer on a pseudo-terminal, whose master the test holds as the
// machine's end of the cable. A pty carries the termios settings as a UART
// does, apart from data bits and parity (checked on the settings themselves
// here, and on a real UART by the guest suite).
namespace {

class Line : public ::testing::Test {
protected:
    void SetUp() override {
        char name[256];
        int slave = -1;
        ASSERT_EQ(openpty(&m_master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        m_slave = name;
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    void TearDown() override {
        if (m_master >= 0) ::close(m_master);
    }
    void open(int baud = 15, int mode = 3) {
        ASSERT_EQ(m_port.sio_open(1), SIO_OK) << m_port.lastError();
        ASSERT_EQ(m_port.sio_ioctl(1, baud, mode), SIO_OK) << m_port.lastError();
    }
    termios lineNow() {
        termios t{};
        EXPECT_EQ(tcgetattr(m_master, &t), 0);
        return t;
    }
    // What the machine receives, waiting up to ten seconds for count bytes.
    std::string machineReads(size_t count) {
        std::string got;
        char buf[1024];
        for (int i = 0; i < 100 && got.size() < count; ++i) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0)
                got.append(buf, std::max<ssize_t>(0, ::read(m_master, buf, sizeof buf)));
        }
        return got;
    }
    // The machine writes; returns once the port can read all of it.
    void machineWrites(const std::string& bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        for (int i = 0, waiting = 0; i < 1000 && waiting < static_cast<int>(bytes.size()); ++i) {
            m_port.waitForInput(10);
            ioctl(m_port.nativeHandle(), FIONREAD, &waiting);
        }
    }

    int m_master = -1;
    std::string m_slave;
    PosixSerialPort m_port{[this](int n) { return n == 1 ? m_slave : std::string(); }};
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
TEST_F(Line, SettingsAreReplacedWhileOpenAndGivenBackAtClose) {
    termios before = lineNow();
    before.c_iflag |= IXON | IXOFF | IXANY | ICRNL;
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST | ONLCR;
    cfsetispeed(&before, B2400);
    cfsetospeed(&before, B2400);
    ASSERT_EQ(tcsetattr(m_master, TCSANOW, &before), 0);
    before = lineNow();

    open(12, 30);
    termios t = lineNow();
    EXPECT_FALSE(t.c_iflag & IXOFF) << "the line would send DC1/DC3 of its own";
    EXPECT_FALSE(t.c_iflag & (IXON | IXANY)) << "the line would swallow the machine's DC1/DC3";
    EXPECT_FALSE(t.c_iflag & (ICRNL | ISTRIP));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    ASSERT_EQ(m_port.sio_close(1), SIO_OK);
    const termios after = lineNow();
    EXPECT_EQ(std::tie(after.c_iflag, after.c_oflag, after.c_lflag, after.c_cflag),
              std::tie(before.c_iflag, before.c_oflag, before.c_lflag, before.c_cflag));
}

// Each rate the settings know opens the line at that rate, as the kernel
// reports it; any other code is refused rather than opening the line at some
// other speed. Data bits, parity and stop bits as a UART gets them.
TEST_F(Line, EverySettingOpensTheLineItNames) {
    const std::map<std::string, tcflag_t> frames = {
        {"7e2", CS7 | PARENB | CSTOPB}, {"6o1", CS6 | PARENB | PARODD}, {"8n1", CS8}};
    const std::tuple<const char*, speed_t, std::string> rows[] = {
        {"300", B300, "6o1"},     {"600", B600, "8n1"},     {"1200", B1200, "7e2"},
        {"2400", B2400, "7e2"},   {"4800", B4800, "7e2"},   {"9600", B9600, "7e2"},
        {"19200", B19200, "7e2"}, {"38400", B38400, "7e2"}, {"57600", B57600, "7e2"}};
    open();
    std::set<int> codes;
    for (auto [rate, speed, frame] : rows) {
        Settings s;
        s.baudRate = rate;
        s.dataBits = frame.substr(0, 1);
        s.parity = frame.substr(1, 1);
        s.stopBits = frame.substr(2);
        SerialCodes c;
        ProTool(s, c);
        codes.insert(c.baudCode);
        ASSERT_EQ(m_port.sio_ioctl(1, c.baudCode, c.modeWord()), SIO_OK) << rate;
        termios t = lineNow();
        EXPECT_EQ(cfgetospeed(&t), speed) << rate;
        EXPECT_EQ(cfgetispeed(&t), speed) << rate;
        LineSettings line;
        ASSERT_TRUE(decodeLineSettings(c.baudCode, c.modeWord(), line)) << frame;
        applyLineSettings(line, t);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), frames.at(frame)) << frame;
        EXPECT_EQ(t.c_cc[VMIN], 0);
    }
    for (int code = 0; code <= 20; ++code)
        EXPECT_EQ(m_port.sio_ioctl(1, code, 3) == SIO_BADPARM, !codes.count(code)) << code;
    for (int mode : {0x10, 0x23, 0x40}) EXPECT_EQ(m_port.sio_ioctl(1, 12, mode), SIO_BADPARM);
    // The PC's own outputs are no status of the line.
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_CTS | TIOCM_DTR | TIOCM_RTS), S_CTS);
    EXPECT_EQ(lineStatusFromModemBits(TIOCM_DSR | TIOCM_CD | TIOCM_RI), S_DSR | S_CD | S_RI);
}

// Every byte value passes unchanged both ways; a read takes at most 512.
// A pty has no modem lines: DTR and RTS are accepted and DSR reads on. Once
// the far end is gone every call says so, the line status included: a
// "Brix" send must not take a line it cannot read for DSR on.
TEST_F(Line, EveryByteBothWaysUntilThePeerIsGone) {
    open();
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    for (char c : all) ASSERT_EQ(m_port.sio_putch(1, static_cast<unsigned char>(c)), SIO_OK);
    EXPECT_EQ(machineReads(all.size()), all);

    char buf[512];
    EXPECT_EQ(m_port.sio_read(1, buf, 512), 0);  // nothing waiting: at once
    machineWrites(all + all + all);
    ASSERT_EQ(m_port.sio_read(1, buf, 512), 512);
    EXPECT_EQ(std::string(buf, 512), all + all);
    EXPECT_EQ(m_port.sio_read(1, buf, 512), 256);
    EXPECT_EQ(std::string(buf, 256), all);

    machineWrites("G00 X0\r\n");
    EXPECT_EQ(m_port.sio_flush(1, FLUSH_BOTH), SIO_OK);
    EXPECT_EQ(m_port.sio_read(1, buf, 512), 0);

    EXPECT_EQ(m_port.sio_DTR(1, 1), SIO_OK);
    EXPECT_EQ(m_port.sio_RTS(1, 1), SIO_OK);
    EXPECT_EQ(m_port.sio_lstatus(1), S_DSR | S_CTS);
    ::close(m_master);
    m_master = -1;
    EXPECT_EQ(m_port.sio_read(1, buf, 512), SIO_PORTLOST);
    EXPECT_EQ(m_port.sio_putch(1, 'A'), SIO_PORTLOST);
    EXPECT_EQ(m_port.sio_lstatus(1), SIO_PORTLOST);
    EXPECT_NE(m_port.lastError().find(m_slave), std::string::npos);
}

// Paced at 9600 baud for a host that may not wait: a write a few characters
// ahead of the line is refused at once (never slept on), and the line says
// when it has room for more.
TEST_F(Line, APacedWriteThatMayNotWaitIsRefusedAndToldWhenToComeBack) {
    setenv(kPacePtyVariable, "1", 1);
    m_port.setWriteWaits(false);
    open(12);
    unsetenv(kPacePtyVariable);
    int taken = 0;
    while (taken < 100 && m_port.sio_putch(1, 'X') == SIO_OK) ++taken;
    EXPECT_LT(taken, 100);
    const int room = m_port.writableInMs();
    ASSERT_GE(room, 1);
    usleep(room * 1000);
    EXPECT_EQ(m_port.sio_putch(1, 'Y'), SIO_OK);
    EXPECT_EQ(machineReads(taken + 1), std::string(taken, 'X') + "Y");
}

// While a transfer owns the line, neither this program nor another one opens
// it again (a terminal program started by mistake would take the machine's
// bytes).
TEST_F(Line, NoOneElseOpensTheLineWhileItIsOpen) {
    open();
    EXPECT_EQ(m_port.sio_open(1), SIO_OPENFAIL);
    EXPECT_EQ(openFromAnotherProgram(m_slave), EBUSY);
    ASSERT_EQ(m_port.sio_close(1), SIO_OK);
    EXPECT_EQ(openFromAnotherProgram(m_slave), 0);
    open();
}
