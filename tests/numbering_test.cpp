#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <filesystem>
#include <sstream>

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

TEST(NumberLines, ProgramLinesGetNumbersBlankBlockDeleteAndTapeMarkLinesDoNot) {
    EXPECT_EQ(
        Numbered("%\r\nO1234\r\nG00 X0\r\n\r\n    \r\n/M01\r\n /X1\r\nG01 X5 N5\r\nn7 G02\r\n"
                 "% (END)\r\n % \r\n%",
                 10),
        "%\r\n"
        "N 0 O1234\r\n"
        "N 10 G00 X0\r\n"
        "\r\n"
        "    \r\n"
        "/M01\r\n"
        "N 20  /X1\r\n"
        "N 30 G01 X5 N5\r\n"
        "N 40 n7 G02\r\n"
        "N 50 % (END)\r\n"
        " % \r\n"
        "%");
    // Bare LF line ends, spaces after the CR, a text that starts with a line
    // feed: blank lines all. A tab is no space.
    EXPECT_EQ(Numbered("\nG00\n\n   \nG01\n", 1), "\nN 0 G00\n\n   \nN 1 G01\n");
    EXPECT_EQ(Numbered("G00\r\n  \r  \nG01\r\n", 5), "N 0 G00\r\n  \r  \nN 5 G01\r\n");
    EXPECT_EQ(Numbered("\t\r\n", 1), "N 0 \t\r\n");
    // The last line without a line break is numbered like the others, unless
    // it is blank; an empty text stays empty.
    EXPECT_EQ(Numbered("G00\r\nM30", 10), "N 0 G00\r\nN 10 M30");
    EXPECT_EQ(Numbered("M30\r", 1), "N 0 M30\r");
    EXPECT_EQ(Numbered("G00\r\n   ", 1), "N 0 G00\r\n   ");
    EXPECT_EQ(Numbered("", 1), "");
}

TEST(NumberLines, NumbersWrapToZeroAfter9999) {
    std::string out = Numbered(Program(10002), 1);
    EXPECT_NE(
        out.find("N 9998 G01 X9998\r\nN 9999 G01 X9999\r\nN 0 G01 X10000\r\nN 1 G01 X10001\r\n"),
        std::string::npos);
    EXPECT_EQ(out.rfind("N 0 ", 0), 0u);
    // With interval 10 the step after 9990 lands above 9999 and wraps.
    out = Numbered(Program(1001), 10);
    EXPECT_NE(out.find("N 9990 G01 X999\r\nN 0 G01 X1000\r\n"), std::string::npos);
    // An interval that does not divide 10000 starts again at 0, not at the
    // remainder.
    out = Numbered(Program(335), 30);
    EXPECT_NE(out.find("N 9990 G01 X333\r\nN 0 G01 X334\r\n"), std::string::npos);
}

TEST(NumberLines, TextLongerThanABlockIsNumberedRightThrough) {
    const std::string text = Program(20000);  // about 300000 characters
    ASSERT_GT(text.size(), kBlockSize);
    std::istringstream lines(Numbered(text, 1));
    int i = 0;
    for (std::string line; std::getline(lines, line); ++i)
        ASSERT_EQ(line, "N " + std::to_string(i % 10000) + " G01 X" + std::to_string(i) + "\r")
            << i;
    EXPECT_EQ(i, 20000);

    // Blocks far smaller than the lines, lines longer than a block, a last
    // line without a break: the result is the one of a single block.
    const std::string mixed = Program(50) + "/" + std::string(300, 'Y') + "\r\nG04 " +
                              std::string(1000, '1') + "\r\n\r\n" + Program(30) + "M30";
    const std::string whole = Numbered(mixed, 3, mixed.size() + 1);
    EXPECT_NE(whole.find("N 150 G04 1111"), std::string::npos);
    for (std::size_t blockSize : {1, 2, 7, 64, 999, 5000})
        EXPECT_EQ(Numbered(mixed, 3, blockSize), whole) << blockSize;
}

TEST(NumberLines, EveryByteOfTheTextIsKept) {
    std::string text = "G00 (";
    for (int c = 1; c < 256; ++c)
        if (c != '\n') text += static_cast<char>(c);
    text += std::string(1, '\0') + ")\r\nM30\r\n";
    EXPECT_EQ(Numbered(text, 1), "N 0 " + text.substr(0, text.find("M30")) + "N 1 M30\r\n");
}

TEST(NumberLines, IntervalIsReadAgainForEveryLine) {
    int calls = 0;
    // The operator changes the interval from 1 to 100 after the second line.
    NumberingResult result = NumberProgram(Program(4), [&] { return ++calls <= 2 ? 1 : 100; });
    EXPECT_EQ(result.numberedText, "N 0 G01 X0\r\nN 1 G01 X1\r\nN 2 G01 X2\r\nN 102 G01 X3\r\n");
    EXPECT_EQ(IntervalValue("10"), 10);
    EXPECT_EQ(IntervalValue(" 100"), 100);
    EXPECT_EQ(IntervalValue("abc"), 0);
    EXPECT_EQ(IntervalValue("-5"), 0);
}

TEST(CheckForNWords, FindsTheFirstLineThatBeginsWithN) {
    const struct {
        const char* text;
        std::int64_t position;  // of the line break in front of the line
        const char* line;
    } cases[] = {
        {"N10 G00\r\nN20 G01\r\n", 0, "N10 G00\r\n"},
        {"G00 X0\r\nG01 N5\r\n  N30 M30\r\nN40\r\n", 15, "  N30 M30\r\n"},
        {"G00\nN99", 4, "N99"},  // the last line, after a bare LF
    };
    for (const auto& c : cases) {
        NWordCheck check = CheckForNWords(c.text);
        EXPECT_TRUE(check.nLineFound) << c.text;
        EXPECT_EQ(check.nLinePosition, c.position) << c.text;
        EXPECT_EQ(check.nLineText, c.line);
    }
    for (const char* text :
         {"G01 N5 X1\r\n", "n10 G00\r\n", "/N10 G00\r\n", "\tN10\r\n", "(N10)\r\n", ""})
        EXPECT_FALSE(CheckForNWords(text).nLineFound) << text;
}

TEST(NumberLines, NumberedProgramIsRefusedWithTheMessage) {
    NumberingResult result = NumberProgram("G00 X0\r\nG01 X5\r\nN10 G01 X6\r\nG00\r\n", 10);
    ASSERT_TRUE(result.refused());
    EXPECT_EQ(result.numberedText, "");
    Message m = NWordRefusal(result.check);
    EXPECT_EQ(m.title, "serial");
    EXPECT_EQ(m.icon, Icon::Stop);
    EXPECT_EQ(m.text,
              "Beqinning of line N \r\nserial number can't set up\r\nN位於15\r\nN10 G01 X6\r\n");
    EXPECT_EQ(NWordRefusal(CheckForNWords("N5\r\n")).text,
              "Beqinning of line N \r\nserial number can't set up\r\nN位於0\r\nN5\r\n");
    // A text numbered by the pass itself is refused the second time.
    EXPECT_TRUE(NumberProgram(Numbered(Program(3), 1), 1).refused());
}

TEST(NumberingPass, ChecksWholeTextBeforeNumberingAnyOfIt) {
    // The offending line is in the last block: nothing may have been numbered
    // when the pass stops.
    std::string text = Program(100) + "N5\r\n";
    NumberingPass pass(
        text, [] { return 1; }, 64);
    int steps = 0;
    while (pass.Step() == NumberingPass::Phase::Checking) ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(pass.phase(), NumberingPass::Phase::Refused);
    EXPECT_EQ(pass.numberedText(), "");
    EXPECT_EQ(pass.nextNumber(), 0);

    // The caller may take the output away between steps.
    const std::string program = Program(100);
    NumberingPass drained(
        program, [] { return 2; }, 64);
    std::string collected;
    while (drained.Step() != NumberingPass::Phase::Done) {
        collected += drained.numberedText();
        drained.numberedText().clear();
    }
    EXPECT_EQ(collected + drained.numberedText(), Numbered(program, 2));
}

// ---- ferobrixlan-cli number ------------------------------------------------

namespace {

// Runs a shell command line; its exit code, its standard output in out.
int Shell(const std::string& command, std::string& out) {
    out.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(NumberCommand, WritesTheNumberedProgramOrRefusesItWithoutWritingAnything) {
    test::TempDir dir;
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), "%\r\nG00 X0\r\n\r\n/M01\r\nM30").isOk());
    const std::string cli = std::string(FBX_CLI) + " number " + dir.file("p.nc");
    std::string out, copy;
    EXPECT_EQ(Shell(cli + " --interval 5", out), 0);
    EXPECT_EQ(out, "%\r\nN 0 G00 X0\r\n\r\n/M01\r\nN 5 M30");
    EXPECT_EQ(Shell(cli + " --interval 5 -o " + dir.file("p.nc"), copy), 0);  // onto itself
    EXPECT_EQ(test::fileBytes(dir.file("p.nc")), out);
    for (const char* bad : {" --interval 0", " --interval x1", ".missing --interval 1"})
        EXPECT_EQ(Shell(cli + bad + " 2>/dev/null", copy), 2) << bad;

    // p.nc is numbered now: refused, and out.nc never made.
    EXPECT_EQ(Shell(cli + " --interval 1 -o " + dir.file("out.nc") + " 2>&1", copy), 1);
    EXPECT_NE(
        copy.find("Beqinning of line N \r\nserial number can't set up\r\nN位於2\r\nN 0 G00 X0\r\n"),
        std::string::npos)
        << copy;
    EXPECT_EQ(test::fileBytes(dir.file("p.nc")), out);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.nc")));
}

TEST(NumberCommand, IntervalDefaultsToTheConfigurationInTheCurrentDirectory) {
    test::TempDir dir, bare;
    Settings settings;
    settings.serialInterval = "20";
    ASSERT_TRUE(saveSettings(settings, dir.file("ferobrixlan.cfg")).isOk());
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), "G00\r\nG01\r\n").isOk());
    ASSERT_TRUE(writeWholeFile(bare.file("p.nc"), "G00\r\nG01\r\n").isOk());
    const std::string number = std::string(" && ") + FBX_CLI + " number p.nc 2>/dev/null";
    std::string out;
    EXPECT_EQ(Shell("cd " + dir.path() + number, out), 0);
    EXPECT_EQ(out, "N 0 G00\r\nN 20 G01\r\n");
    // Without a configuration the default interval is used and none is made.
    EXPECT_EQ(Shell("cd " + bare.path() + number, out), 0);
    EXPECT_EQ(out, "N 0 G00\r\nN 1 G01\r\n");
    EXPECT_FALSE(std::filesystem::exists(bare.file("ferobrixlan.cfg")));
}
