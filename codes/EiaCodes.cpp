#include "EiaCodes.h"

namespace fbx {

namespace {

constexpr std::uint8_t kDigits[10] = {0x20, 0x01, 0x02, 0x13, 0x04, 0x15, 0x16, 0x07, 0x08, 0x19};
constexpr std::uint8_t kLetters[26] = {
    0x61, 0x62, 0x73, 0x64, 0x75, 0x76, 0x67, 0x68, 0x79,  // A..I
    0x51, 0x52, 0x43, 0x54, 0x45, 0x46, 0x57, 0x58, 0x49,  // J..R
    0x32, 0x23, 0x34, 0x25, 0x26, 0x37, 0x38, 0x29,        // S..Z
};

constexpr std::array<std::uint8_t, 256> makeAsciiToEia() {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 128; ++i) t[i] = static_cast<std::uint8_t>(i);
    for (int i = 128; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i - 128);
    t['\t'] = 0x3E;
    t[' '] = 0x10;
    t['%'] = 0x5B;
    t['&'] = 0x0E;
    for (int d = 0; d < 10; ++d) t['0' + d] = kDigits[d];
    for (int l = 0; l < 26; ++l) t['A' + l] = kLetters[l];
    return t;
}

constexpr std::array<std::uint8_t, 256> makeEiaToAscii() {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i);
    for (int d = 0; d < 10; ++d) t[kDigits[d]] = static_cast<std::uint8_t>('0' + d);
    for (int l = 0; l < 26; ++l) t[kLetters[l]] = static_cast<std::uint8_t>('A' + l);
    t[0x10] = ' ';
    t[0x0F] = ' ';
    t[0x3E] = '\t';
    t[0x2A] = 8;  // backspace
    t[0x0E] = '&';
    t[0x1A] = '(';
    t[0x70] = '*';
    t[0x3B] = ',';
    t[0x40] = '-';
    t[0x6B] = '.';
    t[0x31] = '/';
    t[0x5B] = '%';
    t[0x80] = '\n';  // end of block
    for (int i = 0x81; i < 256; ++i) t[i] = static_cast<std::uint8_t>(i - 128);
    return t;
}

constexpr std::array<std::uint8_t, 256> kAsciiToEia = makeAsciiToEia();
constexpr std::array<std::uint8_t, 256> kEiaToAscii = makeEiaToAscii();

}  // namespace

std::uint8_t ToEiaCode(std::uint8_t code, bool eiaMode) {
    return eiaMode ? kAsciiToEia[code] : code;
}

std::uint8_t FromEiaCode(std::uint8_t byte, bool eiaMode) {
    return eiaMode ? kEiaToAscii[byte] : byte;
}

const std::array<std::uint8_t, 256>& asciiToEiaTable() { return kAsciiToEia; }
const std::array<std::uint8_t, 256>& eiaToAsciiTable() { return kEiaToAscii; }

}  // namespace fbx
