#include <gtest/gtest.h>

#include "ByteString.h"

#include "Rfc2217Session.h"
#include "SerialPort.h"
#include "TelnetDecoder.h"

using namespace fbx;
using namespace fbx::telnet;
using fbx::test::bytes;

namespace {

struct Decoded {
    std::string data;
    std::vector<Command> commands;
};

Decoded decodeInPieces(const std::string& stream, size_t cut) {
    Decoder d;
    d.setBinaryInput(true);
    Decoded out;
    d.feed(std::string_view(stream).substr(0, cut), out.data, out.commands);
    d.feed(std::string_view(stream).substr(cut), out.data, out.commands);
    return out;
}

}  // namespace

// Data, doubled IAC, negotiation, a subnegotiation holding a doubled IAC, a
// one-byte command and a stray SE, cut at every place: the same data and the
// same commands come out, and no command byte reaches the data.
TEST(TelnetDecoder, SequencesCutAnywhere) {
    const std::string stream =
        "G1" + bytes({IAC, IAC, 0x13, IAC, WILL, kBinary, 'X',  IAC, SB,  kComPortOption,
                      101, 0,   0,    IAC, IAC,  0,       IAC,  SE,  IAC, NOP,
                      IAC, SE,  0x11, 0,   IAC,  DONT,    kEcho});
    const std::string data = "G1" + bytes({0xFF, 0x13, 'X', 0x11, 0});
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        Decoded d = decodeInPieces(stream, cut);
        EXPECT_EQ(d.data, data);
        ASSERT_EQ(d.commands.size(), 4u);
        EXPECT_EQ(d.commands[0].verb, WILL);
        EXPECT_EQ(d.commands[0].option, kBinary);
        EXPECT_EQ(d.commands[1].verb, SB);
        EXPECT_EQ(d.commands[1].payload, bytes({101, 0, 0, 0xFF, 0}));
        EXPECT_FALSE(d.commands[1].cut);
        EXPECT_EQ(d.commands[2].verb, NOP);
        EXPECT_EQ(d.commands[3].verb, DONT);
        EXPECT_EQ(d.commands[3].option, kEcho);
    }
}

TEST(TelnetDecoder, HugeAndUnclosedSubnegotiationsStayBounded) {
    Decoder d;
    std::string data;
    std::vector<Command> commands;
    d.feed(bytes({IAC, SB, kComPortOption}) + std::string(100000, 'z') + bytes({IAC, SE}) + "ok",
           data, commands);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_TRUE(commands[0].cut);
    EXPECT_EQ(commands[0].payload.size(), Decoder::kMaxSubnegotiation);
    EXPECT_EQ(data, "ok");

    // A subnegotiation the peer never closes ends at the next command.
    commands.clear();
    data.clear();
    d.feed(bytes({IAC, SB, kComPortOption, 107, 0x20, IAC, WILL, kEcho}) + "A", data, commands);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_TRUE(commands[0].cut);
    EXPECT_EQ(commands[1].verb, WILL);
    EXPECT_EQ(data, "A");
}

TEST(TelnetDecoder, CrNulOnlyWithoutBinary) {
    Decoder d;
    std::string data;
    std::vector<Command> commands;
    d.feed(bytes({'\r', 0, 'a', 0, '\r', '\n'}), data, commands);
    EXPECT_EQ(data, bytes({'\r', 'a', 0, '\r', '\n'}));
    d.setBinaryInput(true);
    data.clear();
    d.feed(bytes({'\r', 0}), data, commands);
    EXPECT_EQ(data, bytes({'\r', 0}));
}

// ser2net's opening, answered: SUPPRESS-GO-AHEAD agreed, ECHO refused, the
// answers to our own requests taken without a word; the same again changes
// nothing and draws no reply (no negotiation loop).
TEST(Rfc2217Session, NegotiatesOnceAndReadsTheAnswers) {
    Rfc2217Session s;
    std::string out;
    s.start(out);
    EXPECT_EQ(out, bytes({IAC, WILL, kBinary, IAC, DO, kBinary, IAC, WILL, kComPortOption}));
    EXPECT_EQ(s.comPort(), Rfc2217Session::Offer::Pending);

    const std::string opening = bytes({IAC, WILL, kSuppressGoAhead,
                                       IAC, DO,   kSuppressGoAhead,
                                       IAC, WILL, kEcho,
                                       IAC, DONT, kEcho,
                                       IAC, DO,   kBinary,
                                       IAC, WILL, kBinary,
                                       IAC, DO,   kComPortOption});
    std::string data;
    out.clear();
    s.receive(opening, data, out);
    EXPECT_EQ(out,
              bytes({IAC, DO, kSuppressGoAhead, IAC, WILL, kSuppressGoAhead, IAC, DONT, kEcho}));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(s.comPort(), Rfc2217Session::Offer::Accepted);
    EXPECT_TRUE(s.binaryToServer() && s.binaryFromServer());
    out.clear();
    s.receive(opening, data, out);
    EXPECT_EQ(out, bytes({IAC, DONT, kEcho}));  // ECHO is offered anew; the rest stands

    // Answers, one of them with a doubled IAC inside, and the modem state.
    auto answer = [](std::initializer_list<int> payload) {
        return bytes({IAC, SB, kComPortOption}) + bytes(payload) + bytes({IAC, SE});
    };
    s.receive(answer({101, 0, 0, 0xFF, 0xFF, 0}) + answer({102, 7}) + answer({103, 3}) +
                  answer({104, 2}) + answer({105, 8}) + answer({107, 0x10}) + "\r\n",
              data, out);
    EXPECT_EQ(s.answers().baudRate, 0xFF00u);
    EXPECT_EQ(s.answers().dataSize, 7);
    EXPECT_EQ(s.answers().parity, Rfc2217Session::kParityEven);
    EXPECT_EQ(s.answers().stopSize, 2);
    EXPECT_FALSE(s.answers().control.has_value());  // 8 answers DTR, not the flow control
    EXPECT_EQ(data, "\r\n");
    // CTS on, DSR off: the two lines are told apart.
    EXPECT_EQ(lineStatusFromModemState(*s.modemState()), S_CTS);
    EXPECT_EQ(lineStatusFromModemState(0x20 | 0x80), S_DSR | S_CD);

    s.receive(answer({108}), data, out);
    EXPECT_TRUE(s.suspended());
    s.receive(answer({109}), data, out);
    EXPECT_FALSE(s.suspended());
}

TEST(Rfc2217Session, RefusedComPortAndDataEncoding) {
    Rfc2217Session s;
    std::string out, data;
    s.start(out);
    s.receive(bytes({IAC, DONT, kComPortOption, IAC, DONT, kBinary}), data, out);
    EXPECT_EQ(s.comPort(), Rfc2217Session::Offer::Refused);

    // Without BINARY to the server a CR goes as CR NUL; IAC is always doubled.
    out.clear();
    for (int b : {int('\r'), 0xFF, int('A')}) s.appendData(static_cast<std::uint8_t>(b), out);
    EXPECT_EQ(out, bytes({'\r', 0, 0xFF, 0xFF, 'A'}));

    out.clear();
    Rfc2217Session::appendBaudRate(9600, out);
    EXPECT_EQ(out, bytes({IAC, SB, kComPortOption, 1, 0, 0, 0x25, 0x80, IAC, SE}));
}
