#include "Rfc2217Session.h"

#include <vector>

#include "SerialPort.h"

namespace fbx {

using namespace telnet;

namespace {

void appendOption(std::uint8_t verb, std::uint8_t option, std::string& out) {
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(verb));
    out.push_back(static_cast<char>(option));
}

bool weAgreeTo(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}

}  // namespace

int lineStatusFromModemState(std::uint8_t state) {
    int status = 0;
    if (state & Rfc2217Session::kModemCts) status |= S_CTS;
    if (state & Rfc2217Session::kModemDsr) status |= S_DSR;
    if (state & Rfc2217Session::kModemRi) status |= S_RI;
    if (state & Rfc2217Session::kModemCd) status |= S_CD;
    return status;
}

void Rfc2217Session::start(std::string& out) {
    m_us[kBinary] = State::WantYes;
    m_them[kBinary] = State::WantYes;
    m_us[kComPortOption] = State::WantYes;
    appendOption(WILL, kBinary, out);
    appendOption(DO, kBinary, out);
    appendOption(WILL, kComPortOption, out);
}

void Rfc2217Session::negotiate(const Command& c, std::string& out) {
    const std::uint8_t o = c.option;
    switch (c.verb) {
        case DO:  // the server asks us to use an option
            if (m_us[o] == State::Yes) break;
            if (weAgreeTo(o)) {
                if (m_us[o] == State::No) appendOption(WILL, o, out);
                m_us[o] = State::Yes;
            } else {
                appendOption(WONT, o, out);
                m_us[o] = State::No;
            }
            break;
        case DONT:
            if (m_us[o] == State::Yes) appendOption(WONT, o, out);
            m_us[o] = State::No;
            break;
        case WILL:  // the server offers to use an option
            if (m_them[o] == State::Yes) break;
            if (weAgreeTo(o)) {
                if (m_them[o] == State::No) appendOption(DO, o, out);
                m_them[o] = State::Yes;
            } else {
                appendOption(DONT, o, out);
                m_them[o] = State::No;
            }
            break;
        case WONT:
            if (m_them[o] == State::Yes) appendOption(DONT, o, out);
            m_them[o] = State::No;
            break;
    }
    if (o == kComPortOption) {
        // Either side agreeing to the option is taken as the server's yes.
        if (m_us[o] == State::Yes || m_them[o] == State::Yes)
            m_comPort = Offer::Accepted;
        else if (c.verb == DONT && m_comPort == Offer::Pending)
            m_comPort = Offer::Refused;
    }
    if (o == kBinary) m_decoder.setBinaryInput(m_them[kBinary] == State::Yes);
}

void Rfc2217Session::comPortAnswer(const std::string& payload) {
    if (payload.empty()) return;
    const auto command = static_cast<std::uint8_t>(payload[0]);
    if (command < 100) return;  // a request from the server: nothing we serve
    const std::string_view value = std::string_view(payload).substr(1);
    auto byte = [&]() -> std::optional<std::uint8_t> {
        if (value.size() != 1) return std::nullopt;
        return static_cast<std::uint8_t>(value[0]);
    };
    switch (command - 100) {
        case kSetBaudRate:
            if (value.size() == 4) {
                std::uint32_t baud = 0;
                for (char c : value) baud = (baud << 8) | static_cast<std::uint8_t>(c);
                m_answers.baudRate = baud;
            }
            break;
        case kSetDataSize:
            m_answers.dataSize = byte();
            break;
        case kSetParity:
            m_answers.parity = byte();
            break;
        case kSetStopSize:
            m_answers.stopSize = byte();
            break;
        case kSetControl:
            // Answers about DTR, RTS and BREAK come here too; only the flow
            // control settings (0..3 and the inbound ones) are kept.
            if (auto v = byte(); v && (*v <= 3 || (*v >= 13 && *v <= 19))) m_answers.control = v;
            break;
        case kNotifyModemState:
            if (auto v = byte()) m_modemState = v;
            break;
        case kFlowControlSuspend:
            m_suspended = true;
            break;
        case kFlowControlResume:
            m_suspended = false;
            break;
        default:
            break;
    }
}

void Rfc2217Session::receive(std::string_view bytes, std::string& data, std::string& out) {
    std::vector<Command> commands;
    // Command by command: an answer about BINARY changes how the bytes after
    // it are read.
    while (!bytes.empty()) {
        bytes.remove_prefix(m_decoder.feed(bytes, data, commands, true));
        for (const Command& c : commands) {
            if (c.verb == SB) {
                if (c.option == kComPortOption && !c.cut) comPortAnswer(c.payload);
            } else if (c.verb >= WILL) {
                negotiate(c, out);
            }
        }
        commands.clear();
    }
}

void Rfc2217Session::appendData(std::uint8_t byte, std::string& out) const {
    out.push_back(static_cast<char>(byte));
    if (byte == IAC)
        out.push_back(static_cast<char>(IAC));
    else if (byte == '\r' && !binaryToServer())
        out.push_back('\0');
}

void Rfc2217Session::appendCommand(ComCommand command, std::string_view value, std::string& out) {
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(SB));
    out.push_back(static_cast<char>(kComPortOption));
    out.push_back(static_cast<char>(command));
    for (char c : value) {
        out.push_back(c);
        if (static_cast<std::uint8_t>(c) == IAC) out.push_back(c);
    }
    out.push_back(static_cast<char>(IAC));
    out.push_back(static_cast<char>(SE));
}

void Rfc2217Session::appendCommand(ComCommand command, std::uint8_t value, std::string& out) {
    const char c = static_cast<char>(value);
    appendCommand(command, std::string_view(&c, 1), out);
}

void Rfc2217Session::appendBaudRate(std::uint32_t baud, std::string& out) {
    const char value[4] = {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8), static_cast<char>(baud)};
    appendCommand(kSetBaudRate, std::string_view(value, 4), out);
}

}  // namespace fbx
