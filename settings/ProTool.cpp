#include "ProTool.h"

#include <initializer_list>
#include <utility>

namespace fbx {

namespace {

using CodeTable = std::initializer_list<std::pair<const char*, int>>;

// 300 and 600 are not in the settings dialog's list; a shop configuration
// names them for the older controls that still punch at those rates.
const CodeTable kBaudCodes = {{"300", 5},    {"600", 6},    {"1200", 7},   {"2400", 9},
                              {"4800", 10},  {"9600", 12},  {"19200", 13}, {"38400", 14},
                              {"57600", 15}};
const CodeTable kParityCodes = {{"n", 0}, {"e", 24}, {"o", 8}};
const CodeTable kDataBitsCodes = {{"6", 1}, {"7", 2}, {"8", 3}};
const CodeTable kStopBitsCodes = {{"1", 0}, {"2", 4}};

bool known(const std::string& text, CodeTable table) {
    for (const auto& row : table)
        if (text == row.first) return true;
    return false;
}

template <typename T>
void lookUp(const std::string& text, CodeTable table, T& code) {
    for (const auto& [key, value] : table) {
        if (text == key) {
            code = static_cast<T>(value);
            return;
        }
    }
}

// A port number as the port map writes it: 1 to 9999, without leading zeros.
bool portNumberOf(const std::string& text, std::int32_t& number) {
    if (text.empty() || text.size() > 4 || text[0] == '0') return false;
    std::int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    number = value;
    return true;
}

}  // namespace

void ProTool(const Settings& s, SerialCodes& codes) {
    portNumberOf(s.port, codes.portNumber);
    lookUp(s.baudRate, kBaudCodes, codes.baudCode);
    lookUp(s.parity, kParityCodes, codes.parityCode);
    lookUp(s.dataBits, kDataBitsCodes, codes.dataBitsCode);
    lookUp(s.stopBits, kStopBitsCodes, codes.stopBitsCode);
}

std::string unknownLineSetting(const Settings& s) {
    const std::pair<const char*, std::pair<const std::string*, CodeTable>> fields[] = {
        {"baud rate", {&s.baudRate, kBaudCodes}},
        {"data bits", {&s.dataBits, kDataBitsCodes}},
        {"stop bits", {&s.stopBits, kStopBitsCodes}},
        {"parity", {&s.parity, kParityCodes}},
    };
    for (const auto& [name, field] : fields)
        if (!known(*field.first, field.second)) return std::string(name) + " \"" + *field.first + "\"";
    return {};
}

std::string statusLineText(const Settings& s) {
    return s.handshake + "ware" + " Handshake     " + "comm port=" + s.port + "       " +
           s.baudRate + "," + s.dataBits + "," + s.stopBits + "     " + s.parity + "      " +
           s.mode;
}

}  // namespace fbx
