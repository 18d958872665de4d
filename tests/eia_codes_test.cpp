#include <gtest/gtest.h>

#include "EiaCodes.h"

using namespace fbx;

namespace {
int ones(int v) { return __builtin_popcount(static_cast<unsigned>(v)); }
}  // namespace

TEST(EiaCodes, IsoModeIsIdentityBothWays) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(ToEiaCode(static_cast<std::uint8_t>(c), false), c);
        EXPECT_EQ(FromEiaCode(static_cast<std::uint8_t>(c), false), c);
    }
}

TEST(EiaCodes, SendTable) {
    const std::pair<int, int> mapped[] = {{'A', 0x61}, {'L', 0x43}, {'Z', 0x29}, {'0', 0x20},
                                          {'9', 0x19}, {' ', 0x10}, {'%', 0x5B}, {'&', 0x0E},
                                          {'\t', 0x3E}, {0x80, 0x00}, {0xFF, 0x7F}, {0xC1, 0x41}};
    for (auto [from, to] : mapped) EXPECT_EQ(ToEiaCode(static_cast<std::uint8_t>(from), true), to) << from;
    for (int same : std::initializer_list<int>{'a', 'z', '.', '-', '/', ',', '(', '\r', '\n', 0, 17, 19, 127})
        EXPECT_EQ(ToEiaCode(static_cast<std::uint8_t>(same), true), same) << same;
}

TEST(EiaCodes, ReceiveTable) {
    const std::pair<int, int> mapped[] = {{0x43, 'L'}, {0x80, '\n'}, {0x0F, ' '}, {0x10, ' '},
                                          {0x70, '*'}, {0xDF, 0x5F}, {0x00, 0}, {0x2A, 8},
                                          {0x1A, '('}, {0x3B, ','}, {0x40, '-'}, {0x6B, '.'},
                                          {0x31, '/'}, {0x5B, '%'}, {0x81, 0x01}, {0x3E, '\t'}};
    for (auto [from, to] : mapped) EXPECT_EQ(FromEiaCode(static_cast<std::uint8_t>(from), true), to) << from;
}

TEST(EiaCodes, EveryConvertedCharacterComesBackAndHasOddParity) {
    int converted = 0;
    for (int c = 0; c < 256; ++c) {
        std::uint8_t eia = ToEiaCode(static_cast<std::uint8_t>(c), true);
        if (eia == c) continue;
        if (c < 128) {
            ++converted;
            EXPECT_EQ(FromEiaCode(eia, true), c) << "character " << c;
            EXPECT_EQ(ones(eia) % 2, 1) << "character " << c;
        }
    }
    EXPECT_EQ(converted, 4 + 10 + 26);
}

TEST(EiaCodes, NoReceivedByteButZeroTranslatesToZero) {
    for (int b = 1; b < 256; ++b) EXPECT_NE(FromEiaCode(static_cast<std::uint8_t>(b), true), 0) << b;
}
