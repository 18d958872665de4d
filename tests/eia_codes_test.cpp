#include <gtest/gtest.h>

#include "EiaCodes.h"

using namespace fbx;

namespace {

// The tape's own rules for its letters and digits: a digit is its value in
// the four lower holes (0 is hole 6), a letter a digit under its zone (A..I
// holes 6 and 7, J..R hole 7, S..Z hole 6 from 2 on), and the parity hole 5
// makes the count of holes odd.
int tapeCode(int c) {
    auto odd = [](int code) { return __builtin_popcount(code) % 2 ? code : code | 0x10; };
    if (c == '0') return 0x20;
    if (c >= '1' && c <= '9') return odd(c - '0');
    if (c >= 'A' && c <= 'I') return odd(0x60 | (c - 'A' + 1));
    if (c >= 'J' && c <= 'R') return odd(0x40 | (c - 'J' + 1));
    if (c >= 'S' && c <= 'Z') return odd(0x20 | (c - 'S' + 2));
    const std::pair<int, int> signs[] = {{'\t', 0x3E}, {' ', 0x10}, {'%', 0x5B}, {'&', 0x0E}};
    for (auto [sign, code] : signs)
        if (c == sign) return code;
    return -1;
}

}  // namespace

// Sent, every character the tape has goes out in its code; any other code
// below 128 as it is, the upper half without its top bit. Received, each of
// those codes is read back, and the tape's other signs and its end of block
// too. ISO is the identity both ways, and no byte becomes a NUL it was not.
TEST(EiaCodes, TheTablesFollowTheTape) {
    for (int c = 0; c < 256; ++c) {
        const auto byte = static_cast<std::uint8_t>(c);
        EXPECT_EQ(ToEiaCode(byte, false), c);
        EXPECT_EQ(FromEiaCode(byte, false), c);
        const int code = tapeCode(c);
        EXPECT_EQ(ToEiaCode(byte, true), code < 0 ? c & 0x7F : code) << c;
        if (code >= 0) {
            EXPECT_EQ(FromEiaCode(static_cast<std::uint8_t>(code), true), c) << c;
        }
        EXPECT_TRUE(c == 0 || FromEiaCode(byte, true) != 0) << c;
    }
    const std::pair<int, int> read[] = {{0x80, '\n'}, {0x0F, ' '}, {0x70, '*'}, {0x2A, 8},
                                        {0x1A, '('},  {0x3B, ','}, {0x40, '-'}, {0x6B, '.'},
                                        {0x31, '/'},  {0x81, 1},   {0xDF, 0x5F}};
    for (auto [from, to] : read) EXPECT_EQ(FromEiaCode(from, true), to) << from;
}
