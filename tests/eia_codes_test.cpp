#include <gtest/gtest.h>

#include "EiaCodes.h"

using namespace fbx;

namespace {

// Every character the send table converts, and its tape code.
const std::string kConverted = "\t %&0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const int kTape[] = {0x3E, 0x10, 0x5B, 0x0E,  // TAB, space, %, &
                     0x20, 0x01, 0x02, 0x13, 0x04, 0x15, 0x16, 0x07, 0x08, 0x19,  // 0..9
                     0x61, 0x62, 0x73, 0x64, 0x75, 0x76, 0x67, 0x68, 0x79,        // A..I
                     0x51, 0x52, 0x43, 0x54, 0x45, 0x46, 0x57, 0x58, 0x49,        // J..R
                     0x32, 0x23, 0x34, 0x25, 0x26, 0x37, 0x38, 0x29};             // S..Z

int toEia(int c) {
    return ToEiaCode(static_cast<std::uint8_t>(c), true);
}
int fromEia(int b) {
    return FromEiaCode(static_cast<std::uint8_t>(b), true);
}

}  // namespace

TEST(EiaCodes, IsoModeIsIdentityBothWays) {
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(ToEiaCode(static_cast<std::uint8_t>(c), false), c);
        EXPECT_EQ(FromEiaCode(static_cast<std::uint8_t>(c), false), c);
    }
}

TEST(EiaCodes, SendTableInFull) {
    // Any other code below 128 goes out as it is (lower-case letters, CR, LF,
    // the other punctuation); the upper half loses its top bit.
    for (int c = 0; c < 256; ++c) {
        const size_t at = kConverted.find(static_cast<char>(c));
        EXPECT_EQ(toEia(c), at == std::string::npos ? c & 0x7F : kTape[at]) << c;
    }
}

TEST(EiaCodes, ReceiveTableTakesBackEverySentCodeAndReadsMore) {
    for (size_t i = 0; i < kConverted.size(); ++i)
        EXPECT_EQ(fromEia(kTape[i]), kConverted[i]) << kConverted[i];
    const std::pair<int, int> more[] = {{0x80, '\n'}, {0x0F, ' '}, {0x70, '*'}, {0x2A, 8},
                                        {0x1A, '('},  {0x3B, ','}, {0x40, '-'}, {0x6B, '.'},
                                        {0x31, '/'},  {0x00, 0},   {0x81, 1},   {0xDF, 0x5F}};
    for (auto [from, to] : more) EXPECT_EQ(fromEia(from), to) << from;
    // A received program never gains a NUL it did not carry.
    for (int b = 1; b < 256; ++b) EXPECT_NE(fromEia(b), 0) << b;
}
