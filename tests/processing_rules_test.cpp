#include <gtest/gtest.h>

#include "ProcessingRules.h"

using namespace fbx;
using namespace std::string_literals;

namespace {

RuleTable tableOf(std::array<std::string, kRuleSlotCount> texts,
                  std::vector<std::pair<int, int>>* duplicates = nullptr) {
    RuleTable t;
    ParseProcessingRules(texts, t, [&](int i, int j) {
        if (duplicates) duplicates->emplace_back(i, j);
    });
    return t;
}

std::string receive(const RuleTable& t, const std::string& input) {
    std::string out;
    for (char c : input) {
        out += c;
        ApplyRuleOnReceive(t, static_cast<std::uint8_t>(c), out);
    }
    return out;
}

}  // namespace

TEST(ParseRuleText, WholeAndOpenRulesAreReadSoundlyNeverOutOfBounds) {
    const struct {
        const char* text;
        long trigger, shift;
        std::string target;
        int count;
    } cases[] = {
        {"[67][2][84 69 83 84]", 67, 2, "TEST", 4},
        {"[67]", 67, 0, "C", 1},  // the trigger field stands in for the targets
        {"", 0, 0, "", 0},
        {"]67[ ]2[ ]84[", 0, 0, "", 0},
        {"[67][-3][84]", 67, 0, "T", 1},
        {"[ 6 7 ][ 2 ][84]", 67, 2, "T", 1},
        {"[x][y][84 x 65]", 0, 0, "TA", 3},
        {"[67][0][ 84  69 ]", 67, 0, "TE", 4},  // empty targets stand for nothing
        {"[67][0][0 65 256 300 -5]", 67, 0, "A", 5},
        {"[255][0][255 1]", 255, 0, "\xFF\1", 2},  // 255 is a code like any other
        {"[67][0][1 2 3 4 5 6 7 8 9 10 11 12 13]", 67, 0, "\1\2\3\4\5\6\7\10\11\12\13", 11},
        {"[67][99999999999999][65]", 67, 1000000000, "A", 1},
        {"[67][2", 67, 0, "", 1},  // target field "[67" reads as no character
    };
    for (const auto& c : cases) {
        ProcessingRule r = ParseRuleText(c.text);
        EXPECT_EQ(r.trigger, c.trigger) << c.text;
        EXPECT_EQ(r.shift, c.shift) << c.text;
        EXPECT_EQ(r.targetText(), c.target) << c.text;
        EXPECT_EQ(r.targetCount, c.count) << c.text;
    }
}

// On send the trigger is replaced and the shift's characters after it are
// dropped (to the end at most); on receive the target follows the trigger.
// In any slot alike.
TEST(ProcessingRules, SendAndReceive) {
    const struct {
        const char* rule;
        std::string text, sent, received;
    } cases[] = {
        {"[67][2][84 69 83 84]", "ASCII CODE", "ASTEST TESTE", "ASCTESTII CTESTODE"},
        {"[67][0][]", "ASCII CODE", "ASII ODE", "ASCII CODE"},
        {"[67][2][67 84 69 83 84]", "ASCII CODE", "ASCTEST CTESTE", "ASCCTESTII CCTESTODE"},
        {"[69][50][88 89]", "ABCDE12", "ABCDXY", "ABCDEXY12"},
        {"[0][0][65]", "x\0y"s, "x\0y"s, "x\0y"s},  // code 0 triggers nothing
        {"[300][0][65]", "xyz", "xyz", "xyz"},
    };
    for (const auto& c : cases) {
        for (int slot = 0; slot < kRuleSlotCount; ++slot) {
            std::array<std::string, kRuleSlotCount> texts;
            texts[slot] = c.rule;
            RuleTable t = tableOf(texts);
            EXPECT_EQ(ApplyRulesOnSend(t, c.text), c.sent) << c.rule << " slot " << slot;
            EXPECT_EQ(receive(t, c.text), c.received) << c.rule << " slot " << slot;
        }
    }
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    RuleTable none = tableOf({});
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(ApplyRulesOnSend(none, all), all);
    EXPECT_EQ(receive(none, all), all);
}

TEST(ProcessingRules, DuplicatesAreReportedPairwiseAndTheFirstSlotWins) {
    std::vector<std::pair<int, int>> dups;
    RuleTable t = tableOf(
        {"[67][0][65]", "[67][0][66]", "[67][0][68]", "", "[70][0][71]", "", "[70][0][72]"}, &dups);
    EXPECT_EQ(dups, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 2}, {4, 6}}));
    EXPECT_EQ(ApplyRulesOnSend(t, "CF"), "AG");
    EXPECT_EQ(receive(t, "CF"), "CAFG");
    // Parsing the slots again replaces their targets whole.
    std::array<std::string, kRuleSlotCount> texts{"[65][0][66 66 66 66 66 66 66 66 66 66 66]"};
    ParseProcessingRules(texts, t);
    EXPECT_EQ(ApplyRulesOnSend(t, "AC"), std::string(11, 'B') + "C");
    texts[0] = "[65][0][67 67 67]";
    ParseProcessingRules(texts, t);
    EXPECT_EQ(ApplyRulesOnSend(t, "A"), "CCC");
}
