#include <gtest/gtest.h>

#include "Search.h"

using namespace fbx::editor;

namespace {

// Positions of the hits of successive steps until the first miss.
std::vector<std::int64_t> Hits(TextSearch& search, const std::string& text,
                               const std::string& word) {
    std::vector<std::int64_t> hits;
    while (auto hit = search.SearchStep(text, word)) {
        hits.push_back(hit->hitPosition);
        if (hits.size() > 100) break;
    }
    return hits;
}

const std::string kProgram =
    "O0001\r\n"        // line 1, positions 1..7
    "G00 X0 Y0\r\n"    // line 2, 8..18
    "G01 Z-1 F100\r\n" // line 3, 19..32
    "G01 X50\r\n"      // line 4, 33..41
    "G02 X0 R25\r\n"   // line 5, 42..53
    "M30";             // line 6, 54..56

}  // namespace

TEST(Search, TypedWordIsUpperCasedAndFindsOnlyUpperCaseText) {
    EXPECT_EQ(SearchWordOf("g01 x"), "G01 X");
    EXPECT_EQ(SearchWordOf("\xe9z9"), "\xe9Z9");  // only ASCII letters change
    const std::string text = "g01 x1\r\nG01 X2\r\ng01\r\n";
    TextSearch search;
    std::string word = SearchWordOf("g01");
    auto hit = search.SearchStep(text, word);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->hitPosition, 9);
    EXPECT_EQ(hit->line, 2);
    EXPECT_FALSE(search.SearchStep(text, word));
    EXPECT_EQ(search.hitPosition(), 0);
}

TEST(Search, StepsThroughOccurrencesWithoutOverlapAndStartsAgainAfterAMissOrARestart) {
    TextSearch search;
    EXPECT_EQ(Hits(search, "G00G0", "G0"), (std::vector<std::int64_t>{1, 4}));
    // After the miss the next step starts at the top again.
    EXPECT_EQ(search.SearchStep("G00G0", "G0")->hitPosition, 1);

    TextSearch overlap;
    EXPECT_EQ(Hits(overlap, "AAAAA", "AA"), (std::vector<std::int64_t>{1, 3}));

    TextSearch program;
    // A new word begins at the top.
    EXPECT_EQ(program.SearchStep(kProgram, "G01")->hitPosition, 19);
    program.Restart();
    EXPECT_EQ(program.SearchStep(kProgram, "G0")->line, 2);
    program.Restart();
    EXPECT_EQ(Hits(program, kProgram, "O0001"), (std::vector<std::int64_t>{1}));
    EXPECT_EQ(Hits(program, kProgram, "X0"), (std::vector<std::int64_t>{12, 46}));
    EXPECT_EQ(Hits(program, kProgram, "M30"), (std::vector<std::int64_t>{54}));
    EXPECT_TRUE(Hits(program, kProgram, "").empty());
    EXPECT_TRUE(Hits(program, kProgram, "G03").empty());
}

TEST(Search, EachStepLooksAtTheTextAsItIsNowAndGoesOnWhereItIsTold) {
    TextSearch search;
    EXPECT_EQ(search.SearchStep(kProgram, "X0")->hitPosition, 12);
    // Six characters put in on the first line move the caret after the hit
    // with them; the next hit is found, and its line counted, in the new text.
    const std::string edited = "O0001 (NEW)" + kProgram.substr(5);
    search.ContinueAt(13 + 6);
    auto hit = search.SearchStep(edited, "X0");
    EXPECT_EQ(hit->hitPosition, 52);
    EXPECT_EQ(hit->line, 5);
    search.ContinueAt(0);
    EXPECT_EQ(search.SearchStep(edited, "X0")->hitPosition, 18);
}

TEST(Search, ContextIsTwoLinesEachSideClippedAtTheEnds) {
    TextSearch search;
    auto first = search.SearchStep(kProgram, "O0001");
    EXPECT_EQ(first->line, 1);
    EXPECT_EQ(first->context, "O0001\r\nG00 X0 Y0\r\nG01 Z-1 F100\r\n");

    auto middle = search.SearchStep(kProgram, "G01 X50");
    EXPECT_EQ(middle->line, 4);
    EXPECT_EQ(middle->context, "G00 X0 Y0\r\nG01 Z-1 F100\r\nG01 X50\r\nG02 X0 R25\r\nM30");

    auto last = search.SearchStep(kProgram, "M30");
    EXPECT_EQ(last->line, 6);
    EXPECT_EQ(last->context, "G01 X50\r\nG02 X0 R25\r\nM30");

    const std::string letters = "A\r\nB\r\nC\r\nD\r\nE\r\nF\r\nG\r\n";
    TextSearch second;
    auto b = second.SearchStep(letters, "B");
    EXPECT_EQ(b->context, "A\r\nB\r\nC\r\nD\r\n");
    auto g = second.SearchStep(letters, "G");
    EXPECT_EQ(g->line, 7);
    EXPECT_EQ(g->context, "E\r\nF\r\nG\r\n");
}

TEST(Search, LineNumbersStayRightOverManyStepsAndRestarts) {
    std::string text;
    for (int i = 1; i <= 3000; ++i) text += (i % 7 == 0 ? "T" + std::to_string(i) + " M06\n" : "G01 X1\n");
    TextSearch search;
    for (int round = 0; round < 2; ++round) {
        int expected = 7;
        while (auto hit = search.SearchStep(text, "M06")) {
            EXPECT_EQ(hit->line, expected);
            EXPECT_EQ(hit->context, "G01 X1\nG01 X1\nT" + std::to_string(expected) + " M06\nG01 X1\nG01 X1\n");
            expected += 7;
        }
        EXPECT_EQ(expected, 3003);
    }
}
