#include "TelnetDecoder.h"

namespace fbx::telnet {

void Decoder::endSubnegotiation(std::vector<Command>& commands, bool cut) {
    m_sb.cut = m_sb.cut || cut;
    commands.push_back(std::move(m_sb));
    m_sb = Command{};
}

std::size_t Decoder::feed(std::string_view bytes, std::string& data, std::vector<Command>& commands,
                          bool stopAtCommand) {
    const std::size_t before = commands.size();
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (stopAtCommand && commands.size() > before) break;
        const char ch = bytes[i++];
        const auto b = static_cast<std::uint8_t>(ch);
        switch (m_state) {
            case State::Data:
                if (b == IAC) {
                    m_state = State::Iac;
                } else if (m_afterCr && b == 0 && !m_binary) {
                    m_afterCr = false;  // the NUL that follows a bare CR
                } else {
                    data.push_back(ch);
                    m_afterCr = b == '\r';
                }
                break;
            case State::Iac:
                m_state = State::Data;
                if (b == IAC) {
                    data.push_back(ch);
                    m_afterCr = false;
                } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                    m_verb = b;
                    m_state = State::Option;
                } else if (b == SB) {
                    m_state = State::SbOption;
                } else if (b != SE) {
                    // A stray SE outside a subnegotiation means nothing.
                    commands.push_back(Command{b, 0, {}, false});
                }
                break;
            case State::Option:
                commands.push_back(Command{m_verb, b, {}, false});
                m_state = State::Data;
                break;
            case State::SbOption:
                m_sb = Command{SB, b, {}, false};
                m_state = State::Sb;
                break;
            case State::Sb:
                if (b == IAC) {
                    m_state = State::SbIac;
                } else if (m_sb.payload.size() < kMaxSubnegotiation) {
                    m_sb.payload.push_back(ch);
                } else {
                    m_sb.cut = true;
                }
                break;
            case State::SbIac:
                if (b == SE) {
                    endSubnegotiation(commands, false);
                    m_state = State::Data;
                } else if (b == IAC) {
                    if (m_sb.payload.size() < kMaxSubnegotiation)
                        m_sb.payload.push_back(ch);
                    else
                        m_sb.cut = true;
                    m_state = State::Sb;
                } else {
                    // IAC and a command inside a subnegotiation: the peer
                    // never closed it. Take it as ended and read the byte
                    // again as the command after IAC.
                    endSubnegotiation(commands, true);
                    m_state = State::Iac;
                    --i;
                }
                break;
        }
    }
    return i;
}

}  // namespace fbx::telnet
