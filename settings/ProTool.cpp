#include "ProTool.h"

#include <initializer_list>
#include <utility>

namespace fbx {

namespace {

template <typename T>
void lookUp(const std::string& text, std::initializer_list<std::pair<const char*, int>> table,
            T& code) {
    for (const auto& [key, value] : table) {
        if (text == key) {
            code = static_cast<T>(value);
            return;
        }
    }
}

}  // namespace

void ProTool(const Settings& s, SerialCodes& codes) {
    lookUp(s.port, {{"1", 1}, {"2", 2}}, codes.portNumber);
    lookUp(s.baudRate,
           {{"1200", 7}, {"2400", 9}, {"4800", 10}, {"9600", 12}, {"19200", 13}, {"38400", 14},
            {"57600", 15}},
           codes.baudCode);
    lookUp(s.parity, {{"n", 0}, {"e", 24}, {"o", 8}}, codes.parityCode);
    lookUp(s.dataBits, {{"6", 1}, {"7", 2}, {"8", 3}}, codes.dataBitsCode);
    lookUp(s.stopBits, {{"1", 0}, {"2", 4}}, codes.stopBitsCode);
}

std::string statusLineText(const Settings& s) {
    return s.handshake + "ware" + " Handshake     " + "comm port=" + s.port + "       " +
           s.baudRate + "," + s.dataBits + "," + s.stopBits + "     " + s.parity + "      " +
           s.mode;
}

}  // namespace fbx
