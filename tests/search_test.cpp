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
    "O0001\r\n"         // line 1, positions 1..7
    "G00 X0 Y0\r\n"     // line 2, 8..18
    "G01 Z-1 F100\r\n"  // line 3, 19..32
    "G01 X50\r\n"       // line 4, 33..41
    "G02 X0 R25\r\n"    // line 5, 42..53
    "M30";              // line 6, 54..56

}  // namespace

// The typed word is upper-cased (ASCII letters only) and finds only upper-case
// text; the steps go through the occurrences without overlap and start at the
// top again after a miss or a restart. The context is two lines above and
// below the hit's line, cut at the ends of the text. (Steps on a text edited
// meanwhile are the editor window's suite's.)
TEST(Search, StepsThroughTheOccurrences) {
    EXPECT_EQ(SearchWordOf("g01 x\xe9z9"), "G01 X\xe9Z9");
    TextSearch cased;
    EXPECT_EQ(Hits(cased, "g01 x1\r\nG01 X2\r\ng01\r\n", SearchWordOf("g01")),
              (std::vector<std::int64_t>{9}));
    TextSearch overlap;
    EXPECT_EQ(Hits(overlap, "AAAAA", "AA"), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(overlap.SearchStep("AAAAA", "AA")->hitPosition, 1);

    TextSearch program;
    EXPECT_EQ(program.SearchStep(kProgram, "O0001")->context,
              "O0001\r\nG00 X0 Y0\r\nG01 Z-1 F100\r\n");
    program.Restart();
    EXPECT_EQ(Hits(program, kProgram, "X0"), (std::vector<std::int64_t>{12, 46}));
    const auto last = program.SearchStep(kProgram, "M30");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->line, 6);
    EXPECT_EQ(last->context, "G01 X50\r\nG02 X0 R25\r\nM30");
    EXPECT_TRUE(Hits(program, kProgram, "").empty());
}
