// Comparing a program with the one a machine punched back: what the control
// changes on its own is no difference, and the first change is named.

#include <gtest/gtest.h>

#include "ProgramCompare.h"

namespace fbx::editor {
namespace {

using namespace std::literals;

const char* kOriginal =
    "%\r\nO1234 (FACE)\r\nN10 G00 X0 Y0\r\nN20 G01 X10. F100\r\n"
    "N30 G01 Y12.\r\nN40 M30\r\n%\r\n";

TEST(ProgramCompare, WhatTheControlChangesOnItsOwnIsNoDifference) {
    const std::string_view same[] = {
        // renumbered, lower case, blanks dropped, LF line ends, a leader of NULs
        "\0\0\0%\nO1234 (face)\nN1 G00X0Y0\nN2 G01 X10. F100\nN3 G01 Y12.\nN4 M30\n%\n"sv,
        // no sequence numbers at all, CR alone, empty blocks between
        "%\rO1234 (FACE)\r\rG00 X0 Y0\rG01 X10. F100\rG01 Y12.\rM30\r%",
        // a leader of blanks and empty lines, tabs
        "   \r\n\r\n%\r\nO1234\t(FACE)\r\nN0010 G00 X0 Y0\r\nN20 G01 X10. F100\r\nN30 G01 "
        "Y12.\r\nM30\r\n%",
    };
    for (std::string_view b : same) {
        const ProgramComparison c = ComparePrograms(kOriginal, b);
        EXPECT_TRUE(c.same()) << b << "\n" << DescribeFirstChange(c);
    }
    EXPECT_EQ(ComparableBlock("/N120 g01 x5."), "/G01X5.");
    EXPECT_EQ(ComparableBlock("N120"), "");
    EXPECT_EQ(ComparableBlock("NOTE"), "NOTE");  // an N without digits is no sequence number
}

TEST(ProgramCompare, TheFirstChangedBlockIsNamedWithItsLine) {
    struct Case {
        const char* punched;
        const char* first;
        std::size_t changes;
    } cases[] = {
        {"%\nO1234 (FACE)\nN1 G00 X0 Y0\nN2 G01 X10. F100\nN3 G01 Y10.\nN4 M30\n%\n",
         "line 5: N30 G01 Y12. became N3 G01 Y10.", 1},
        {"%\nO1234 (FACE)\nG00 X0 Y0\nG01 X10. F100\nM01\nG01 Y12.\nM30\n%\n", "line 5: M01 added",
         1},
        {"%\nO1234 (FACE)\nG00 X0 Y0\nG01 Y12.\nM30\n%\n", "line 4: N20 G01 X10. F100 removed", 1},
        {"%\nO1234 (FACE)\nG00 X1 Y0\nG01 X10. F100\nG01 Y12.\nM30\nM99\n%\n",
         "line 3: N10 G00 X0 Y0 became G00 X1 Y0", 2},
    };
    for (const Case& c : cases) {
        const ProgramComparison result = ComparePrograms(kOriginal, c.punched);
        EXPECT_EQ(DescribeFirstChange(result), c.first) << c.punched;
        EXPECT_EQ(result.changes.size(), c.changes) << c.punched;
    }
    // The last row's second change: before the closing % of the original.
    const ProgramComparison last = ComparePrograms(kOriginal, std::end(cases)[-1].punched);
    EXPECT_EQ(last.changes.at(1).atA, 7);
    EXPECT_EQ(last.changes.at(1).atB, 7);
    ASSERT_EQ(last.changes.at(1).added.size(), 1u);
    EXPECT_EQ(last.changes.at(1).added[0].text, "M99");
    EXPECT_EQ(ComparePrograms("G00\nG01", "G00\nG01\nG02").changes.at(0).atA, 3);
}

TEST(ProgramCompare, ManyChangesInALongProgramAreFoundOrGivenAsOneBlock) {
    std::string a = "%\n", b = "%\n";
    for (int i = 0; i < 20000; ++i) {
        a += "G01 X" + std::to_string(i) + "\n";
        b += "G01 X" + std::to_string(i % 500 == 7 ? -i : i) + "\n";
    }
    const ProgramComparison exact = ComparePrograms(a, b);
    ASSERT_EQ(exact.changes.size(), 40u);
    EXPECT_EQ(exact.changes[39].atB, 2 + 19507);
    EXPECT_EQ(exact.changes[39].added[0].text, "G01 X-19507");
    // Past the limit of edits: the part from the first to the last change.
    const ProgramComparison rough = ComparePrograms(a, b, 10);
    ASSERT_EQ(rough.changes.size(), 1u);
    EXPECT_EQ(rough.changes[0].removed.front().text, "G01 X7");
    EXPECT_EQ(rough.changes[0].removed.size(), 19501u);
    EXPECT_EQ(DescribeFirstChange(rough), "line 9: G01 X7 became G01 X-7");
}

}  // namespace
}  // namespace fbx::editor
