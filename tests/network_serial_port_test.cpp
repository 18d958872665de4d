#include <gtest/gtest.h>

#include "ByteString.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "DeviceSerialPort.h"
#include "NetworkSerialPort.h"
#include "PollPort.h"
#include "TelnetDecoder.h"

using namespace fbx;
using namespace fbx::telnet;
using fbx::test::bytes;

namespace {

// Waits up to ten seconds for done(); true as soon as it holds.
template <typename Done>
bool within10s(Done done) {
    for (int i = 0; i < 2000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

// A device server on loopback for one connection, served from a thread. With
// telnet it agrees to BINARY and COM-PORT-OPTION and answers each line
// setting with the value asked, or with the one the test gives for that
// command; SET-CONTROL (5) only when the test gives an answer for it (empty:
// the value asked), as ser2net on a line without modem lines. It records
// the COM-PORT-OPTION commands the client sent.
struct DeviceServer {
    explicit DeviceServer(bool telnet = true, std::map<int, std::string> answers = {})
        : m_telnet(telnet), m_answers(std::move(answers)) {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), size);
        ::listen(m_listen, 1);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size);
        url = (telnet ? "rfc2217://127.0.0.1:" : "tcp://127.0.0.1:") +
              std::to_string(ntohs(a.sin_port));
        m_thread = std::thread([this] { serve(); });
    }
    ~DeviceServer() {
        m_stop = true;
        m_thread.join();
        if (m_client >= 0) ::close(m_client);
        ::close(m_listen);
    }

    // Raw bytes to the client, from the server's thread.
    void send(const std::string& raw) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_outgoing += raw;
    }
    // Whether a COM-PORT-OPTION command with this payload came (waits for it).
    bool received(const std::string& payload) {
        return within10s([&] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return std::find(m_payloads.begin(), m_payloads.end(), payload) != m_payloads.end();
        });
    }

    void serve() {
        while (!m_stop && m_client < 0) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) m_client = ::accept(m_listen, nullptr, nullptr);
        }
        Decoder decoder;
        decoder.setBinaryInput(true);
        for (char buf[4096]; !m_stop && m_client >= 0;) {
            std::unique_lock<std::mutex> lock(m_mutex);
            ::send(m_client, m_outgoing.data(), m_outgoing.size(), MSG_NOSIGNAL);
            m_outgoing.clear();
            lock.unlock();
            pollfd p{m_client, POLLIN, 0};
            ssize_t n = hangUp                 ? 0
                        : ::poll(&p, 1, 5) > 0 ? ::recv(m_client, buf, sizeof buf, 0)
                                               : 1;
            if (n <= 0) {  // hung up, or the client closed: so does the server
                ::shutdown(m_client, SHUT_RDWR);
                return;
            }
            std::string data;
            std::vector<Command> commands;
            if (m_telnet && p.revents)
                decoder.feed(std::string_view(buf, size_t(n)), data, commands);
            for (const Command& c : commands) answer(c);
            lock.lock();
            for (const Command& c : commands)
                if (c.verb == SB && c.option == kComPortOption) m_payloads.push_back(c.payload);
        }
    }

    void answer(const Command& c) {
        if (c.verb == WILL && (c.option == kComPortOption || c.option == kBinary))
            send(bytes({IAC, DO, c.option}));
        if (c.verb == DO && c.option == kBinary) send(bytes({IAC, WILL, kBinary}));
        if (c.verb != SB || c.option != kComPortOption || c.payload.empty()) return;
        const int command = static_cast<std::uint8_t>(c.payload[0]);
        const auto given = m_answers.find(command);
        if (command > 5 || (command == 5 && given == m_answers.end())) return;
        const bool asked = given == m_answers.end() || given->second.empty();
        std::string reply;
        Rfc2217Session::appendCommand(static_cast<Rfc2217Session::ComCommand>(command + 100),
                                      asked ? c.payload.substr(1) : given->second, reply);
        send(reply);
    }

    bool m_telnet;
    std::map<int, std::string> m_answers;
    int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_client = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::string url;
    // Closes the connection once everything queued has gone out.
    std::atomic<bool> hangUp{false};
    std::mutex m_mutex;
    std::string m_outgoing;
    std::vector<std::string> m_payloads;
};

const SerialCodes k9600_7E2{1, 12, 24, 2, 4};

}  // namespace

// The opening sequence over RFC 2217: every setting goes out as the COM port
// option says, the answers match, and a server that never answers the flow
// control is no failure. DTR and RTS are SET-CONTROL. The connection gives
// up on a server that stops answering within ten seconds.
TEST(NetworkSerialPort, OpeningSendsTheLineSettings) {
    DeviceServer server;
    DeviceSerialPort port([&](int) { return server.url; });
    ASSERT_EQ(openPort(port, k9600_7E2), OpenFailure::None) << port.lastError();
    for (const std::string& sent :
         {bytes({1, 0, 0, 0x25, 0x80}), bytes({2, 7}), bytes({3, 3}), bytes({4, 2}), bytes({5, 1}),
          bytes({5, 8}), bytes({5, 11}), bytes({11, 0xF0})})
        EXPECT_TRUE(server.received(sent)) << testing::PrintToString(sent);
    EXPECT_EQ(port.sio_DTR(1, 0), SIO_OK);
    EXPECT_TRUE(server.received(bytes({5, 9})));
    EXPECT_EQ(port.sio_flush(1, FLUSH_BOTH), SIO_OK);
    EXPECT_TRUE(server.received(bytes({12, 3})));  // PURGE-DATA both
    // DSR is what the server's modem state says ("Brix" waits for it).
    EXPECT_EQ(port.sio_lstatus(1), S_DSR | S_CTS);  // nothing told yet
    for (int state : {0x10, 0x30}) {
        server.send(bytes({IAC, SB, kComPortOption, 107, state, IAC, SE}));
        EXPECT_TRUE(within10s(
            [&] { return port.sio_lstatus(1) == (state & 0x20 ? S_DSR | S_CTS : S_CTS); }));
    }

    unsigned unanswered = 0;
    socklen_t size = sizeof unanswered;
    ASSERT_EQ(getsockopt(port.nativeHandle(), IPPROTO_TCP, TCP_USER_TIMEOUT, &unanswered, &size),
              0);
    EXPECT_GT(unanswered, 0u);
    EXPECT_LE(unanswered, 10000u);
}

// A server that sets the line otherwise than asked refuses the setting: the
// port must not run a line whose frame the machine does not share.
TEST(NetworkSerialPort, ASettingTheServerAnswersOtherwiseIsRefused) {
    const std::pair<std::map<int, std::string>, const char*> cases[] = {
        {{{1, bytes({0, 0, 0x12, 0xC0})}}, "9600 baud set as 4800 baud"},
        {{{2, bytes({8})}}, "7 data bits set as 8 data bits"},
        {{{3, bytes({1})}}, "parity even set as parity none"},
        {{{4, bytes({1})}}, "2 stop bits set as 1 stop bits"},
    };
    for (const auto& [answers, why] : cases) {
        DeviceServer server(true, answers);
        DeviceSerialPort port([&](int) { return server.url; });
        EXPECT_EQ(openPort(port, k9600_7E2), OpenFailure::SettingError) << why;
        EXPECT_NE(port.lastError().find(why), std::string::npos) << port.lastError();
        EXPECT_NE(port.lastError().find("127.0.0.1:"), std::string::npos);
    }
    // The flow control answered as asked (none) is accepted.
    DeviceServer controls(true, {{5, ""}});
    DeviceSerialPort answered([&](int) { return controls.url; });
    EXPECT_EQ(openPort(answered, k9600_7E2), OpenFailure::None) << answered.lastError();
}

// The server going away mid-transfer is a lost port, as a pulled cable is;
// what it sent before is still read first.
TEST(NetworkSerialPort, AConnectionDroppedMidTransferIsALostPort) {
    for (bool telnet : {true, false}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "tcp");
        DeviceServer server(telnet);
        DeviceSerialPort port([&](int) { return server.url; });
        ASSERT_EQ(openPort(port, k9600_7E2), OpenFailure::None) << port.lastError();
        server.send("N10 G00\r\n");
        server.hangUp = true;
        std::string got;
        int n = 0;
        within10s([&] {
            char buf[512];
            port.waitForInput(10);
            n = port.sio_read(1, buf, 512);
            if (n > 0) got.append(buf, size_t(n));
            return n < 0;
        });
        EXPECT_EQ(got, "N10 G00\r\n");
        EXPECT_EQ(n, SIO_PORTLOST);
        EXPECT_EQ(port.sio_putch(1, 'A'), SIO_PORTLOST);
        EXPECT_NE(port.lastError().find("closed the connection"), std::string::npos)
            << port.lastError();
    }
}
