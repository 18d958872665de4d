#include <gtest/gtest.h>

#include "EiaCodes.h"
#include "ProcessingRules.h"

using namespace fbx;

namespace {

RuleTable tableOf(std::array<std::string, kRuleSlotCount> texts,
                  std::vector<std::pair<int, int>>* duplicates = nullptr) {
    RuleTable t;
    ParseProcessingRules(texts, t, [&](int i, int j) {
        if (duplicates) duplicates->emplace_back(i, j);
    });
    return t;
}

RuleTable oneRule(const std::string& text, int slot = 0) {
    std::array<std::string, kRuleSlotCount> texts;
    texts[slot] = text;
    return tableOf(texts);
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
    struct Case {
        const char* text;
        long trigger, shift;
        std::string target;
        int count;
    } cases[] = {
        {"[67][2][84 69 83 84]", 67, 2, "TEST", 4},
        {"[67][0][]", 67, 0, "", 0},
        {"[67]", 67, 0, "C", 1},  // the trigger field stands in for the targets
        {"", 0, 0, "", 0},
        {"no brackets", 0, 0, "", 0},
        {"][][][", 0, 0, "", 0},
        {"]67[ ]2[ ]84[", 0, 0, "", 0},
        {"[67][-3][84]", 67, 0, "T", 1},
        {"[ 6 7 ][ 2 ][84]", 67, 2, "T", 1},
        {"[x][y][84 x 65]", 0, 0, "TA", 3},
        {"[67][0][ 84  69 ]", 67, 0, "TE", 4},  // empty targets stand for nothing
        {"[67][0][0 65 256 300 -5]", 67, 0, "A", 5},
        {"[255][0][255 1]", 255, 0, "\xFF\1", 2},  // 255 is a code like any other
        {"[67][0][1 2 3 4 5 6 7 8 9 10 11 12 13]", 67, 0, "\1\2\3\4\5\6\7\10\11\12\13", 11},
        {"[67][99999999999999][65]", 67, 1000000000, "A", 1},
        {"[[[[", 0, 0, "", 0},
        {"[67][2", 67, 0, "", 1},  // target field "[67" reads as no character
    };
    for (const Case& c : cases) {
        ProcessingRule r = ParseRuleText(c.text);
        EXPECT_EQ(r.trigger, c.trigger) << c.text;
        EXPECT_EQ(r.shift, c.shift) << c.text;
        EXPECT_EQ(r.targetText(), c.target) << c.text;
        EXPECT_EQ(r.targetCount, c.count) << c.text;
        EXPECT_LE(r.targets.size(), 11u);
    }
}

TEST(ProcessingRules, AsciiCodeTableBothDirections) {
    struct Case {
        const char* rule;
        const char* sent;
        const char* received;
    } cases[] = {
        {"[67][2][84 69 83 84]", "ASTEST TESTE", "ASCTESTII CTESTODE"},
        {"[67][0][]", "ASII ODE", "ASCII CODE"},
        {"[67][2][67 84 69 83 84]", "ASCTEST CTESTE", "ASCCTESTII CCTESTODE"},
    };
    for (const Case& c : cases) {
        for (int slot = 0; slot < kRuleSlotCount; ++slot) {
            RuleTable t = oneRule(c.rule, slot);
            EXPECT_EQ(ApplyRulesOnSend(t, "ASCII CODE"), c.sent) << c.rule << " slot " << slot;
            EXPECT_EQ(receive(t, "ASCII CODE"), c.received) << c.rule << " slot " << slot;
        }
    }
    EXPECT_EQ(ApplyRulesOnSend(oneRule("[67][2][84 69 83 84]"), "ASCII CODE").size(), 12u);
}

TEST(ProcessingRules, NoRuleKeepsEveryByte) {
    RuleTable t = tableOf({});
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(ApplyRulesOnSend(t, all), all);
    EXPECT_EQ(receive(t, all), all);
}

TEST(ProcessingRules, ShiftPastTheEndStillAppendsTheTarget) {
    RuleTable t = oneRule("[69][50][88 89]");
    EXPECT_EQ(ApplyRulesOnSend(t, "ABCDE12"), "ABCDXY");
    EXPECT_EQ(ApplyRulesOnSend(t, "E"), "XY");
}

TEST(ProcessingRules, DuplicatesAreReportedPairwiseAndTheFirstSlotWins) {
    std::vector<std::pair<int, int>> dups;
    RuleTable t = tableOf(
        {"[67][0][65]", "[67][0][66]", "[67][0][68]", "", "[70][0][71]", "", "[70][0][72]"}, &dups);
    EXPECT_EQ(dups, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {1, 2}, {4, 6}}));
    EXPECT_EQ(ApplyRulesOnSend(t, "CF"), "AG");
    EXPECT_EQ(ApplyRule(t, 'C', RuleDirection::Receive).text, "A");
}

TEST(ProcessingRules, EmptySlotsAndCodeZeroNeverMatch) {
    RuleTable t = oneRule("[0][0][65]");
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(receive(t, std::string("\0x", 2)), std::string("\0x", 2));
    RuleTable above = oneRule("[300][0][65]");
    EXPECT_EQ(ApplyRulesOnSend(above, "xyz"), "xyz");
}

TEST(ProcessingRules, ReparsingASlotReplacesItsTargetsWhole) {
    RuleTable t;
    std::array<std::string, kRuleSlotCount> texts;
    texts[2] = "[65][0][66 66 66 66 66 66 66 66 66 66 66]";
    ParseProcessingRules(texts, t);
    EXPECT_EQ(ApplyRulesOnSend(t, "A"), std::string(11, 'B'));
    texts[2] = "[65][0][67 67 67]";
    ParseProcessingRules(texts, t);
    EXPECT_EQ(ApplyRulesOnSend(t, "A"), "CCC");
    texts[2] = "";
    ParseProcessingRules(texts, t);
    EXPECT_EQ(ApplyRulesOnSend(t, "A"), "A");
}

TEST(ProcessingRules, ApplyRuleReportsShiftAndCount) {
    RuleTable t = oneRule("[67][2][84 69 0 84]");
    AppliedRule a = ApplyRule(t, 'C', RuleDirection::Send);
    EXPECT_EQ(a.text, "TET");
    EXPECT_EQ(a.skip, 2);
    EXPECT_EQ(a.targetCount, 4);
    EXPECT_EQ(ApplyRule(t, 'D', RuleDirection::Send).text, "");
}
