#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fbx::telnet {

// Telnet commands and the options a COM port client deals with.
enum : std::uint8_t {
    SE = 240,
    NOP = 241,
    DM = 242,
    BRK = 243,
    IP = 244,
    AO = 245,
    AYT = 246,
    EC = 247,
    EL = 248,
    GA = 249,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255,
};
enum : std::uint8_t { kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPortOption = 44 };

// One Telnet command taken out of the byte stream.
struct Command {
    std::uint8_t verb = 0;    // WILL, WONT, DO, DONT, SB, or a one-byte command (NOP, BRK, ...)
    std::uint8_t option = 0;  // WILL/WONT/DO/DONT and SB
    std::string payload;      // SB: the bytes between the option and IAC SE, IAC IAC undoubled
    bool cut = false;         // SB: longer than kMaxSubnegotiation (the rest was dropped), or
                              // ended by another command instead of IAC SE
};

// Splits the bytes that arrive from a Telnet peer into data and commands.
// Sequences may be cut anywhere between two feeds; the decoder keeps what it
// needs to resume. Memory stays bounded whatever arrives: a subnegotiation
// keeps at most kMaxSubnegotiation bytes.
//
// Without BINARY from the peer a CR is sent as CR NUL or CR LF: with
// binaryInput off the NUL after a CR is dropped.
class Decoder {
public:
    static constexpr std::size_t kMaxSubnegotiation = 64;

    void setBinaryInput(bool on) { m_binary = on; }

    // Appends the data bytes to data and the complete commands to commands.
    // With stopAtCommand it stops right after the first complete command, so
    // that the caller can act on it before the bytes behind it are read.
    // Returns how many bytes were taken.
    std::size_t feed(std::string_view bytes, std::string& data, std::vector<Command>& commands,
                     bool stopAtCommand = false);

private:
    enum class State { Data, Iac, Option, SbOption, Sb, SbIac };
    void endSubnegotiation(std::vector<Command>& commands, bool cut);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    Command m_sb;
    bool m_binary = false;
    bool m_afterCr = false;
};

}  // namespace fbx::telnet
