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
// top again after a miss or a restart.
TEST(Search, StepsThroughTheOccurrences) {
    EXPECT_EQ(SearchWordOf("g01 x\xe9z9"), "G01 X\xe9Z9");
    TextSearch cased;
    EXPECT_EQ(Hits(cased, "g01 x1\r\nG01 X2\r\ng01\r\n", SearchWordOf("g01")),
              (std::vector<std::int64_t>{9}));
    EXPECT_EQ(cased.hitPosition(), 0);
    TextSearch overlap;
    EXPECT_EQ(Hits(overlap, "AAAAA", "AA"), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(overlap.SearchStep("AAAAA", "AA")->hitPosition, 1);

    TextSearch program;
    EXPECT_EQ(program.SearchStep(kProgram, "G01")->hitPosition, 19);
    program.Restart();
    EXPECT_EQ(program.SearchStep(kProgram, "G0")->line, 2);
    program.Restart();
    EXPECT_EQ(Hits(program, kProgram, "X0"), (std::vector<std::int64_t>{12, 46}));
    EXPECT_EQ(Hits(program, kProgram, "M30"), (std::vector<std::int64_t>{54}));
    EXPECT_TRUE(Hits(program, kProgram, "").empty());
}

// Each step looks at the text as it is now, going on where it is told.
TEST(Search, EachStepLooksAtTheTextAsItIsNow) {
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

// The context: two lines above and below the hit's line, line breaks
// included, cut at the ends of the text; line numbers right in any order of
// steps.
TEST(Search, ContextAndLines) {
    TextSearch search;
    const struct {
        const char* word;
        std::int64_t line;
        std::string context;
    } cases[] = {
        {"O0001", 1, "O0001\r\nG00 X0 Y0\r\nG01 Z-1 F100\r\n"},
        {"G01 X50", 4, "G00 X0 Y0\r\nG01 Z-1 F100\r\nG01 X50\r\nG02 X0 R25\r\nM30"},
        {"M30", 6, "G01 X50\r\nG02 X0 R25\r\nM30"},
        {"Z-1", 3, kProgram.substr(0, kProgram.find("M30"))},
    };
    for (const auto& c : cases) {
        search.Restart();
        auto hit = search.SearchStep(kProgram, c.word);
        ASSERT_TRUE(hit) << c.word;
        EXPECT_EQ(hit->line, c.line) << c.word;
        EXPECT_EQ(hit->context, c.context) << c.word;
    }
}
