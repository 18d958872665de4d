#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>
#include <filesystem>

#include "ConfigFile.h"
#include "Numbering.h"
#include "TempDir.h"

using namespace fbx;
using namespace fbx::editor;

namespace {

std::string Numbered(std::string_view text, std::int64_t interval,
                     std::size_t blockSize = kBlockSize) {
    NumberingResult result = NumberProgram(text, interval, blockSize);
    EXPECT_FALSE(result.refused()) << result.check.nLineText;
    return result.numberedText;
}

// A program of n lines "G01 X<i>" with CR LF.
std::string Program(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "G01 X" + std::to_string(i) + "\r\n";
    return text;
}

}  // namespace

// Program lines get numbers; blank lines (empty or spaces, whatever their
// line end), block-delete lines and lines of only a tape mark "%" do not. The last line
// without a break is numbered like the others; no byte is lost or changed.
TEST(NumberLines, WhichLinesGetNumbers) {
    const std::pair<std::string, std::string> cases[] = {
        {"%\r\nO1234\r\nG00 X0\r\n\r\n    \r\n/M01\r\n /X1\r\nG01 X5 N5\r\nn7 G02\r\n"
         "% (END)\r\n % \r\n%",
         "%\r\nN 0 O1234\r\nN 10 G00 X0\r\n\r\n    \r\n/M01\r\nN 20  /X1\r\nN 30 G01 X5 N5\r\n"
         "N 40 n7 G02\r\nN 50 % (END)\r\n % \r\n%"},
        {"\nG00\n\n   \nG01\n", "\nN 0 G00\n\n   \nN 10 G01\n"},
        {"G00\r\n  \r  \nG01\r\n", "N 0 G00\r\n  \r  \nN 10 G01\r\n"},
        {"\t\r\n", "N 0 \t\r\n"},  // a tab is no space
        {"G00\r\nM30", "N 0 G00\r\nN 10 M30"},
        {"M30\r", "N 0 M30\r"},
        {"G00\r\n   ", "N 0 G00\r\n   "},
        {"", ""},
    };
    for (const auto& [text, numbered] : cases) EXPECT_EQ(Numbered(text, 10), numbered) << text;
    std::string all = "G00 (";
    for (int c = 0; c < 256; ++c)
        if (c != '\n') all += static_cast<char>(c);
    EXPECT_EQ(Numbered(all + ")\r\nM30\r\n", 1), "N 0 " + all + ")\r\nN 1 M30\r\n");
}

// After 9999 comes 0, whatever the interval; the interval is read again for
// every line (a change of the setting takes effect at the next line).
TEST(NumberLines, NumbersWrapToZeroAfter9999) {
    EXPECT_NE(Numbered(Program(10002), 1)
                  .find("N 9998 G01 X9998\r\nN 9999 G01 X9999\r\nN 0 G01 X10000\r\nN 1 G01"),
              std::string::npos);
    EXPECT_NE(Numbered(Program(335), 30).find("N 9990 G01 X333\r\nN 0 G01 X334\r\n"),
              std::string::npos);
    int calls = 0;
    NumberingResult result = NumberProgram(Program(4), [&] { return ++calls <= 2 ? 1 : 100; });
    EXPECT_EQ(result.numberedText, "N 0 G01 X0\r\nN 1 G01 X1\r\nN 2 G01 X2\r\nN 102 G01 X3\r\n");
    for (auto [text, value] : {std::pair{"10", 10}, {" 100", 100}, {"abc", 0}, {"-5", 0}})
        EXPECT_EQ(IntervalValue(text), value) << text;
}

// Blocks far smaller than the lines, lines longer than a block, a last line
// without a break: the result is the one of a single block. (The output
// taken away between steps: the editor window's suite.)
TEST(NumberingPass, BlocksOfAnySizeGiveOneResult) {
    const std::string mixed = Program(50) + "/" + std::string(300, 'Y') + "\r\nG04 " +
                              std::string(1000, '1') + "\r\n\r\n" + Program(30) + "M30";
    const std::string whole = Numbered(mixed, 3, mixed.size() + 1);
    EXPECT_NE(whole.find("N 150 G04 1111"), std::string::npos);
    for (std::size_t blockSize : {1, 2, 7, 64, 999, 5000})
        EXPECT_EQ(Numbered(mixed, 3, blockSize), whole) << blockSize;
}

// A program whose line begins with "N" (after spaces) has sequence numbers:
// the whole text is checked before any of it is numbered, and the box names
// the line break before that line and shows the line.
TEST(CheckForNWords, ANumberedProgramIsRefused) {
    const struct {
        std::string text;
        std::int64_t position;
        const char* line;
    } cases[] = {
        {"G00 X0\r\nG01 N5\r\n  N30 M30\r\nN40\r\n", 15, "  N30 M30\r\n"},
        {"G00\nN99", 4, "N99"},
        {Program(100) + "N5\r\n", 889, "N5\r\n"},
    };
    for (const auto& c : cases) {
        NumberingPass pass(
            c.text, [] { return 1; }, 64);
        while (pass.Step() == NumberingPass::Phase::Checking) {
        }
        ASSERT_EQ(pass.phase(), NumberingPass::Phase::Refused) << c.text;
        EXPECT_EQ(pass.numberedText(), "");
        EXPECT_EQ(NWordRefusal(pass.check()).text,
                  "Beqinning of line N \r\nserial number can't set up\r\nN位於" +
                      std::to_string(c.position) + "\r\n" + c.line);
    }
    for (const char* text :
         {"G01 N5 X1\r\n", "n10 G00\r\n", "/N10 G00\r\n", "\tN10\r\n", "(N10)\r\n", ""})
        EXPECT_FALSE(CheckForNWords(text).nLineFound) << text;
    EXPECT_TRUE(NumberProgram(Numbered(Program(3), 1), 1).refused());
}

// ferobrixlan-cli number: the numbered program on standard output or written
// (onto itself too); a numbered program refused without writing anything;
// the interval from the configuration in the current directory.
TEST(NumberCommand, WritesTheNumberedProgramOrRefusesIt) {
    test::TempDir dir;
    // The command's exit code; what it printed is in the files out and err.
    auto number = [&](const std::string& args) {
        const std::string command =
            "cd " + dir.path() + " && " + FBX_CLI + " number p.nc " + args + " >out 2>err";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    Settings settings;
    settings.serialInterval = "20";
    ASSERT_TRUE(saveSettings(settings, dir.file("ferobrixlan.cfg")).isOk());
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), "%\r\nG00 X0\r\n\r\n/M01\r\nM30").isOk());
    EXPECT_EQ(number(""), 0);
    EXPECT_EQ(test::fileBytes(dir.file("out")), "%\r\nN 0 G00 X0\r\n\r\n/M01\r\nN 20 M30");
    EXPECT_EQ(number("--interval 5 -o p.nc"), 0);
    EXPECT_EQ(test::fileBytes(dir.file("p.nc")), "%\r\nN 0 G00 X0\r\n\r\n/M01\r\nN 5 M30");
    EXPECT_EQ(number("-o numbered.nc"), 1);
    EXPECT_NE(test::fileBytes(dir.file("err")).find("N位於2\r\nN 0 G00 X0\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("numbered.nc")));
    // Without a configuration the default interval is used and none is made.
    std::filesystem::remove(dir.file("ferobrixlan.cfg"));
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), "G00\r\nG01\r\n").isOk());
    EXPECT_EQ(number(""), 0);
    EXPECT_EQ(test::fileBytes(dir.file("out")), "N 0 G00\r\nN 1 G01\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("ferobrixlan.cfg")));
}
