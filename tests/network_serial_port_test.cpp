#include <gtest/gtest.h>

#include "ByteString.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "DeviceSerialPort.h"
#include "NetworkSerialPort.h"
#include "PollPort.h"
#include "TelnetDecoder.h"

using namespace fbx;
using namespace fbx::telnet;
using fbx::test::bytes;

namespace {

// A device server on loopback for one connection, served from a thread. With
// telnet it agrees to COM-PORT-OPTION and answers each setting with the value
// asked (or with the one the test gives), but never SET-CONTROL unless told
// to, as ser2net on a line without modem lines. It records the data and the
// commands the client sent.
class DeviceServer {
public:
    struct Policy {
        bool telnet = true;
        std::optional<std::uint32_t> baudAnswer;  // instead of the value asked
        bool answerControl = false;
        std::string greeting;  // raw bytes sent once the client is in
    };

    explicit DeviceServer(Policy policy) : m_policy(std::move(policy)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int on = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t size = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~DeviceServer() {
        m_stop = true;
        m_thread.join();
        if (m_client >= 0) ::close(m_client);
        ::close(m_listen);
    }

    std::string url() const {
        return std::string(m_policy.telnet ? "rfc2217" : "tcp") +
               "://127.0.0.1:" + std::to_string(m_port);
    }
    // Raw bytes to the client, from the server's thread.
    void send(const std::string& raw) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outgoing += raw;
    }
    // Closes the connection once everything queued has gone out.
    void hangUp() { m_hangUp = true; }

    std::string data() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }
    std::vector<Command> commands() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_commands;
    }
    // Waits up to a second for a COM-PORT-OPTION command with this payload.
    bool received(const std::string& payload) {
        for (int i = 0; i < 100; ++i) {
            for (const Command& c : commands())
                if (c.verb == SB && c.option == kComPortOption && c.payload == payload) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Waits up to a second for the data to reach count bytes.
    std::string dataWhenItHas(size_t count) {
        for (int i = 0; i < 100 && data().size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return data();
    }

private:
    void serve() {
        while (!m_stop && m_client < 0) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) m_client = ::accept(m_listen, nullptr, nullptr);
        }
        if (m_client < 0) return;
        send(m_policy.greeting);
        Decoder decoder;
        decoder.setBinaryInput(true);
        while (!m_stop) {
            std::string out;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                out.swap(m_outgoing);
            }
            if (!out.empty()) ::send(m_client, out.data(), out.size(), MSG_NOSIGNAL);
            if (m_hangUp) {
                ::shutdown(m_client, SHUT_RDWR);
                return;
            }
            pollfd p{m_client, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0) continue;
            char buf[4096];
            ssize_t n = ::recv(m_client, buf, sizeof buf, 0);
            if (n <= 0) {
                ::shutdown(m_client, SHUT_RDWR);  // the client closed: so does the server
                return;
            }
            std::string data;
            std::vector<Command> commands;
            if (m_policy.telnet)
                decoder.feed(std::string_view(buf, size_t(n)), data, commands);
            else
                data.assign(buf, size_t(n));
            for (const Command& c : commands) answer(c);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_data += data;
            m_commands.insert(m_commands.end(), commands.begin(), commands.end());
        }
    }

    void answer(const Command& c) {
        if (c.verb == WILL && (c.option == kComPortOption || c.option == kBinary))
            send(bytes({IAC, DO, c.option}));
        if (c.verb == DO && c.option == kBinary) send(bytes({IAC, WILL, kBinary}));
        if (c.verb != SB || c.option != kComPortOption || c.payload.empty()) return;
        const int command = static_cast<std::uint8_t>(c.payload[0]);
        std::string value = c.payload.substr(1);
        if (command == 5 && !m_policy.answerControl) return;
        if (command == 1 && m_policy.baudAnswer) {
            const std::uint32_t b = *m_policy.baudAnswer;
            value = bytes({int(b >> 24), int((b >> 16) & 255), int((b >> 8) & 255), int(b & 255)});
        }
        if (command > 4 && command != 5) return;
        std::string reply = bytes({IAC, SB, kComPortOption, command + 100});
        for (char ch : value) {
            reply += ch;
            if (static_cast<std::uint8_t>(ch) == IAC) reply += ch;
        }
        send(reply + bytes({IAC, SE}));
    }

    Policy m_policy;
    int m_listen = -1;
    int m_client = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_hangUp{false};
    std::mutex m_mutex;
    std::string m_outgoing;
    std::string m_data;
    std::vector<Command> m_commands;
};

SerialCodes codes9600_7E2() {
    SerialCodes c;
    c.portNumber = 1;
    c.baudCode = 12;
    c.dataBitsCode = 2;
    c.stopBitsCode = 4;
    c.parityCode = 24;
    return c;
}

DeviceServer::Policy rawTcp() {
    DeviceServer::Policy p;
    p.telnet = false;
    return p;
}

}  // namespace

// The opening sequence over RFC 2217: every setting goes out as the COM port
// option says, the answers match, and a server that never answers the flow
// control is no failure. DTR and RTS are SET-CONTROL.
TEST(NetworkSerialPort, OpeningSendsTheLineSettings) {
    DeviceServer server({});
    DeviceSerialPort port([&](int) { return server.url(); });
    ASSERT_EQ(openPort(port, codes9600_7E2()), OpenFailure::None) << port.lastError();
    EXPECT_EQ(port.kind(), DeviceKind::Rfc2217);
    EXPECT_GE(port.nativeHandle(), 0);
    EXPECT_TRUE(server.received(bytes({1, 0, 0, 0x25, 0x80})));  // 9600
    EXPECT_TRUE(server.received(bytes({2, 7})));
    EXPECT_TRUE(server.received(bytes({3, 3})));  // even
    EXPECT_TRUE(server.received(bytes({4, 2})));
    EXPECT_TRUE(server.received(bytes({5, 1})));      // no flow control
    EXPECT_TRUE(server.received(bytes({5, 8})));      // DTR on
    EXPECT_TRUE(server.received(bytes({5, 11})));     // RTS on
    EXPECT_TRUE(server.received(bytes({11, 0xF0})));  // modem state mask
    EXPECT_EQ(port.sio_DTR(1, 0), SIO_OK);
    EXPECT_TRUE(server.received(bytes({5, 9})));
    EXPECT_EQ(port.sio_flush(1, FLUSH_BOTH), SIO_OK);
    EXPECT_TRUE(server.received(bytes({12, 3})));  // PURGE-DATA both
    EXPECT_EQ(port.sio_close(1), SIO_OK);
}

TEST(NetworkSerialPort, ARefusedSettingAndARefusedConnectionSayWhereAndWhy) {
    DeviceServer::Policy slower;
    slower.baudAnswer = 4800;
    DeviceServer server(slower);
    DeviceSerialPort port([&](int) { return server.url(); });
    EXPECT_EQ(openPort(port, codes9600_7E2()), OpenFailure::SettingError);
    EXPECT_NE(port.lastError().find("127.0.0.1:"), std::string::npos) << port.lastError();
    EXPECT_NE(port.lastError().find("9600 baud set as 4800 baud"), std::string::npos)
        << port.lastError();
    port.sio_close(1);

    DeviceServer::Policy answering;
    answering.answerControl = true;
    DeviceServer controls(answering);
    DeviceSerialPort second([&](int) { return controls.url(); });
    // The server echoes the flow control asked for (none): accepted.
    EXPECT_EQ(openPort(second, codes9600_7E2()), OpenFailure::None) << second.lastError();

    int closedPort = 0;
    {
        DeviceServer gone({});
        closedPort = std::stoi(gone.url().substr(gone.url().rfind(':') + 1));
    }
    DeviceSerialPort refused(
        [&](int) { return "rfc2217://127.0.0.1:" + std::to_string(closedPort); });
    EXPECT_EQ(openPort(refused, codes9600_7E2()), OpenFailure::PortError);
    EXPECT_NE(refused.lastError().find("127.0.0.1:" + std::to_string(closedPort) +
                                       ": Connection refused"),
              std::string::npos)
        << refused.lastError();
}

// The server going away mid-transfer is a lost port, as a pulled cable is;
// what it sent before is still read first.
TEST(NetworkSerialPort, AConnectionDroppedMidTransferIsALostPort) {
    for (bool telnet : {true, false}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
        DeviceServer server(telnet ? DeviceServer::Policy{} : rawTcp());
        DeviceSerialPort port([&](int) { return server.url(); });
        ASSERT_EQ(openPort(port, codes9600_7E2()), OpenFailure::None) << port.lastError();
        server.send("N10 G00\r\n");
        server.hangUp();
        std::string got;
        char buf[512];
        int n = 0;
        for (int i = 0; i < 100; ++i) {
            port.waitForInput(10);
            n = port.sio_read(1, buf, 512);
            if (n < 0) break;
            got.append(buf, size_t(n));
        }
        EXPECT_EQ(got, "N10 G00\r\n");
        EXPECT_EQ(n, SIO_PORTLOST);
        EXPECT_EQ(port.sio_putch(1, 'A'), SIO_PORTLOST);
        EXPECT_NE(port.lastError().find("closed the connection"), std::string::npos)
            << port.lastError();
    }
}

// A write never runs more than four characters ahead of the line: at 1200
// baud the fifth byte in a row is "not sent, try again".
TEST(NetworkSerialPort, WritesArePacedAtTheConfiguredLine) {
    DeviceServer server(rawTcp());
    DeviceSerialPort port([&](int) { return server.url(); });
    SerialCodes codes = codes9600_7E2();
    codes.baudCode = 7;
    ASSERT_EQ(openPort(port, codes), OpenFailure::None) << port.lastError();
    int accepted = 0;
    for (int i = 0; i < 10; ++i) accepted += port.sio_putch(1, 'A' + i) == SIO_OK;
    EXPECT_EQ(accepted, LinePacer::kAhead);
    EXPECT_EQ(port.sio_flush(1, FLUSH_BOTH), SIO_OK);
    EXPECT_EQ(port.sio_putch(1, 'Z'), SIO_OK);  // the discarded output no longer counts
}
