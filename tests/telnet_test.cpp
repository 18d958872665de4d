#include <gtest/gtest.h>

#include "ByteString.h"

#include "Rfc2217Session.h"
#include "SerialPort.h"
#include "TelnetDecoder.h"

using namespace fbx;
using namespace fbx::telnet;
using fbx::test::bytes;

// Data, doubled IAC, negotiation, a subnegotiation holding a doubled IAC, a
// one-byte command and a stray SE, cut at every place: the same data and the
// same commands come out, and no command byte reaches the data. A huge
// subnegotiation is cut short, one never closed ends at the next command;
// without BINARY a CR NUL is a CR.
TEST(TelnetDecoder, SequencesCutAnywhereAndBounded) {
    const std::string stream =
        "G1" + bytes({IAC, IAC, 0x13, IAC, WILL, kBinary, 'X',  IAC, SB,  kComPortOption,
                      101, 0,   0,    IAC, IAC,  0,       IAC,  SE,  IAC, NOP,
                      IAC, SE,  0x11, 0,   IAC,  DONT,    kEcho});
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Decoder d;
        d.setBinaryInput(true);
        std::string data;
        std::vector<Command> c;
        d.feed(std::string_view(stream).substr(0, cut), data, c);
        d.feed(std::string_view(stream).substr(cut), data, c);
        EXPECT_EQ(data, "G1" + bytes({0xFF, 0x13, 'X', 0x11, 0})) << cut;
        ASSERT_EQ(c.size(), 4u) << cut;
        EXPECT_TRUE(c[0].verb == WILL && c[0].option == kBinary);
        EXPECT_EQ(c[1].payload, bytes({101, 0, 0, 0xFF, 0}));
        EXPECT_EQ(c[2].verb, NOP);
        EXPECT_TRUE(c[3].verb == DONT && c[3].option == kEcho);
    }
    Decoder d;
    std::string data;
    std::vector<Command> c;
    d.feed(bytes({IAC, SB, kComPortOption}) + std::string(100000, 'z') + bytes({IAC, SE}) + "ok" +
               bytes({IAC, SB, kComPortOption, 107, 0x20, IAC, WILL, kEcho, '\r', 0, 'a'}),
           data, c);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_TRUE(c[0].cut);
    EXPECT_EQ(c[0].payload.size(), Decoder::kMaxSubnegotiation);
    EXPECT_TRUE(c[1].cut);
    EXPECT_EQ(c[2].verb, WILL);
    EXPECT_EQ(data, "ok\ra");
}

// ser2net's opening, answered: SUPPRESS-GO-AHEAD agreed, ECHO refused, the
// answers to our own requests taken without a word; the same again draws no
// reply but the refusal (no negotiation loop). Then an answer with a doubled
// IAC inside, DTR's answer not taken for the flow control's, the carrier in
// the modem state and the server's flow control of the data. (The other
// answers, DSR and the settings' encoding: the network port's suite.)
TEST(Rfc2217Session, NegotiatesOnceAndReadsTheAnswers) {
    auto say = [](int verb, int option) { return bytes({IAC, verb, option}); };
    Rfc2217Session s;
    std::string out, data;
    s.start(out);
    EXPECT_EQ(out, say(WILL, kBinary) + say(DO, kBinary) + say(WILL, kComPortOption));
    const std::string opening = say(WILL, kSuppressGoAhead) + say(DO, kSuppressGoAhead) +
                                say(WILL, kEcho) + say(DONT, kEcho) + say(DO, kBinary) +
                                say(WILL, kBinary) + say(DO, kComPortOption);
    out.clear();
    s.receive(opening, data, out);
    EXPECT_EQ(out, say(DO, kSuppressGoAhead) + say(WILL, kSuppressGoAhead) + say(DONT, kEcho));
    EXPECT_EQ(s.comPort(), Rfc2217Session::Offer::Accepted);
    EXPECT_TRUE(s.binaryToServer() && s.binaryFromServer());
    out.clear();
    s.receive(opening, data, out);
    EXPECT_EQ(out, say(DONT, kEcho));

    auto answer = [](std::initializer_list<int> payload) {
        return bytes({IAC, SB, kComPortOption}) + bytes(payload) + bytes({IAC, SE});
    };
    s.receive(answer({101, 0, 0, 0xFF, 0xFF, 0}) + answer({105, 8}) + "\r\n" + answer({108}), data,
              out);
    EXPECT_EQ(s.answers().baudRate, 0xFF00u);
    EXPECT_FALSE(s.answers().control.has_value());  // 8 answers DTR, not the flow control
    EXPECT_EQ(data, "\r\n");
    EXPECT_EQ(lineStatusFromModemState(0x20 | 0x80), S_DSR | S_CD);
    EXPECT_TRUE(s.suspended());
    s.receive(answer({109}), data, out);
    EXPECT_FALSE(s.suspended());
}

// A refused COM port option; the data to a server that has not agreed to
// BINARY: CR as CR NUL, IAC doubled always.
TEST(Rfc2217Session, RefusedComPortAndDataEncoding) {
    Rfc2217Session s;
    std::string out, data;
    s.start(out);
    s.receive(bytes({IAC, DONT, kComPortOption, IAC, DONT, kBinary}), data, out);
    EXPECT_EQ(s.comPort(), Rfc2217Session::Offer::Refused);
    out.clear();
    for (int b : {int('\r'), 0xFF, int('A')}) s.appendData(static_cast<std::uint8_t>(b), out);
    EXPECT_EQ(out, bytes({'\r', 0, 0xFF, 0xFF, 'A'}));
}
