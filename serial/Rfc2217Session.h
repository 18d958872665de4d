#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TelnetDecoder.h"

namespace fbx {

// The client side of a Telnet connection with COM port control: what to send
// to a serial device server and what its bytes mean. No sockets: bytes go in,
// data and answers come out, so the whole protocol can be driven by tests and
// by the fuzzer.
//
// The session asks for BINARY both ways and offers COM-PORT-OPTION; it agrees
// to BINARY and SUPPRESS-GO-AHEAD and refuses every other option, answering
// each request only when it changes an option's state (so two peers never
// loop). Commands never reach the data.
class Rfc2217Session {
public:
    // Client-to-server commands of COM-PORT-OPTION; the server answers with
    // the same code plus 100.
    enum ComCommand : std::uint8_t {
        kSignature = 0,
        kSetBaudRate = 1,
        kSetDataSize = 2,
        kSetParity = 3,
        kSetStopSize = 4,
        kSetControl = 5,
        kNotifyLineState = 6,
        kNotifyModemState = 7,
        kFlowControlSuspend = 8,
        kFlowControlResume = 9,
        kSetLineStateMask = 10,
        kSetModemStateMask = 11,
        kPurgeData = 12,
    };
    // Values of SET-CONTROL and SET-PARITY, PURGE-DATA and the modem state.
    enum : std::uint8_t {
        kNoFlowControl = 1,
        kDtrOn = 8,
        kDtrOff = 9,
        kRtsOn = 11,
        kRtsOff = 12,
        kParityNone = 1,
        kParityOdd = 2,
        kParityEven = 3,
        kPurgeBoth = 3,
        kModemCts = 0x10,
        kModemDsr = 0x20,
        kModemRi = 0x40,
        kModemCd = 0x80,
    };

    enum class Offer { Pending, Accepted, Refused };

    // What the server has answered since the answers were last cleared.
    struct Answers {
        std::optional<std::uint32_t> baudRate;
        std::optional<std::uint8_t> dataSize;
        std::optional<std::uint8_t> parity;
        std::optional<std::uint8_t> stopSize;
        std::optional<std::uint8_t> control;
    };

    // The opening requests: WILL and DO BINARY, WILL COM-PORT-OPTION.
    void start(std::string& out);

    // Bytes from the server: data bytes are appended to data, replies to
    // out, and the server's answers and notifications are taken in.
    void receive(std::string_view bytes, std::string& data, std::string& out);

    // One data byte for the server: IAC doubled, and CR followed by NUL
    // while the server has not agreed to BINARY from us.
    void appendData(std::uint8_t byte, std::string& out) const;

    // A COM-PORT-OPTION command with its value (IAC doubled inside).
    static void appendCommand(ComCommand command, std::string_view value, std::string& out);
    static void appendCommand(ComCommand command, std::uint8_t value, std::string& out);
    static void appendBaudRate(std::uint32_t baud, std::string& out);

    Offer comPort() const { return m_comPort; }
    bool binaryToServer() const { return m_us[telnet::kBinary] == State::Yes; }
    bool binaryFromServer() const { return m_them[telnet::kBinary] == State::Yes; }
    const Answers& answers() const { return m_answers; }
    void clearAnswers() { m_answers = Answers{}; }
    // The last NOTIFY-MODEMSTATE, if any came.
    std::optional<std::uint8_t> modemState() const { return m_modemState; }
    // FLOWCONTROL-SUSPEND received and no RESUME since: the server wants no data.
    bool suspended() const { return m_suspended; }

private:
    enum class State : std::uint8_t { No, WantYes, Yes };
    void negotiate(const telnet::Command& c, std::string& out);
    void comPortAnswer(const std::string& payload);

    telnet::Decoder m_decoder;
    std::array<State, 256> m_us{};    // options on our side (WILL/WONT)
    std::array<State, 256> m_them{};  // options on the server's side (DO/DONT)
    Offer m_comPort = Offer::Pending;
    Answers m_answers;
    std::optional<std::uint8_t> m_modemState;
    bool m_suspended = false;
};

// The line-status word (S_CTS, S_DSR, S_RI, S_CD) for an RFC 2217 modem state.
int lineStatusFromModemState(std::uint8_t modemState);

}  // namespace fbx
