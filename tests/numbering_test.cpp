#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

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

TEST(NumberLines, ProgramLinesGetNumbersBlankAndBlockDeleteLinesDoNot) {
    const std::string text =
        "%\r\n"
        "O1234\r\n"
        "G00 X0\r\n"
        "\r\n"
        "    \r\n"
        "/M01\r\n"
        " /X1\r\n"
        "G01 X5 N5\r\n"
        "n7 G02\r\n"
        "%\r\n";
    EXPECT_EQ(Numbered(text, 10),
              "N 0 %\r\n"
              "N 10 O1234\r\n"
              "N 20 G00 X0\r\n"
              "\r\n"
              "    \r\n"
              "/M01\r\n"
              "N 30  /X1\r\n"
              "N 40 G01 X5 N5\r\n"
              "N 50 n7 G02\r\n"
              "N 60 %\r\n");
}

TEST(NumberLines, BareLineFeedsAndStrayBlanksAreStillBlankLines) {
    // Bare LF line ends, spaces after the CR, and a text that starts with a
    // line feed: none of these blank lines takes a number.
    EXPECT_EQ(Numbered("\nG00\n\n   \nG01\n", 1), "\nN 0 G00\n\n   \nN 1 G01\n");
    EXPECT_EQ(Numbered("G00\r\n  \r  \nG01\r\n", 5), "N 0 G00\r\n  \r  \nN 5 G01\r\n");
    // A tab is no space: such a line is a program line.
    EXPECT_EQ(Numbered("\t\r\n", 1), "N 0 \t\r\n");
}

TEST(NumberLines, NumbersWrapToZeroAfter9999) {
    std::string out = Numbered(Program(10002), 1);
    EXPECT_NE(out.find("N 9998 G01 X9998\r\nN 9999 G01 X9999\r\nN 0 G01 X10000\r\nN 1 G01 X10001\r\n"),
              std::string::npos);
    EXPECT_EQ(out.rfind("N 0 ", 0), 0u);

    // With interval 10 the step after 9990 lands above 9999 and wraps.
    out = Numbered(Program(1001), 10);
    EXPECT_NE(out.find("N 9990 G01 X999\r\nN 0 G01 X1000\r\n"), std::string::npos);
}

TEST(NumberLines, LastLineWithoutLineBreakIsNumberedLikeTheOthers) {
    EXPECT_EQ(Numbered("G00\r\nM30", 10), "N 0 G00\r\nN 10 M30");
    EXPECT_EQ(Numbered("M30\r", 1), "N 0 M30\r");
    EXPECT_EQ(Numbered("X", 1), "N 0 X");
    // A last piece of spaces is a blank line; an empty text stays empty.
    EXPECT_EQ(Numbered("G00\r\n   ", 1), "N 0 G00\r\n   ");
    EXPECT_EQ(Numbered("", 1), "");
}

TEST(NumberLines, TextLongerThanABlockIsNumberedRightThrough) {
    // 20000 lines of about 14 characters are well over 200000 characters.
    const std::string text = Program(20000);
    ASSERT_GT(text.size(), kBlockSize);
    const std::string out = Numbered(text, 1);
    std::istringstream lines(out);
    std::string line;
    int i = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line, "N " + std::to_string(i % 10000) + " G01 X" + std::to_string(i) + "\r") << i;
        ++i;
    }
    EXPECT_EQ(i, 20000);
}

TEST(NumberLines, BlockBoundariesDoNotChangeTheResult) {
    // Blocks far smaller than the lines, lines longer than a block, a last
    // line without a break: the result is the one of a single block.
    std::string text = Program(50) + "/" + std::string(300, 'Y') + "\r\n" + "G04 " +
                       std::string(1000, '1') + "\r\n\r\n" + Program(30) + "M30";
    const std::string whole = Numbered(text, 3, text.size() + 1);
    for (std::size_t blockSize : {1, 2, 7, 64, 999, 5000}) EXPECT_EQ(Numbered(text, 3, blockSize), whole) << blockSize;
    EXPECT_NE(whole.find("N 150 G04 1111"), std::string::npos);
    // 82 program lines: the N words are all that was added.
    std::size_t added = 0;
    for (int k = 0; k < 82; ++k) added += 3 + std::to_string(3 * k).size();
    EXPECT_EQ(whole.size(), text.size() + added);
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
    EXPECT_EQ(calls, 4);

    EXPECT_EQ(IntervalValue("10"), 10);
    EXPECT_EQ(IntervalValue(" 100"), 100);
    EXPECT_EQ(IntervalValue("abc"), 0);
    EXPECT_EQ(IntervalValue("-5"), 0);
}

TEST(CheckForNWords, FindsTheFirstLineThatBeginsWithN) {
    NWordCheck first = CheckForNWords("N10 G00\r\nN20 G01\r\n");
    EXPECT_TRUE(first.nLineFound);
    EXPECT_EQ(first.nLinePosition, 0);
    EXPECT_EQ(first.nLineText, "N10 G00\r\n");

    // The CR ending "G01 N5" is the 15th character; the offending line
    // follows it, spaces in front of its N.
    NWordCheck later = CheckForNWords("G00 X0\r\nG01 N5\r\n  N30 M30\r\nN40\r\n");
    EXPECT_TRUE(later.nLineFound);
    EXPECT_EQ(later.nLinePosition, 15);
    EXPECT_EQ(later.nLineText, "  N30 M30\r\n");

    // The last line, without a line break; a bare LF before it.
    NWordCheck last = CheckForNWords("G00\nN99");
    EXPECT_TRUE(last.nLineFound);
    EXPECT_EQ(last.nLinePosition, 4);
    EXPECT_EQ(last.nLineText, "N99");
}

TEST(CheckForNWords, NWordsInsideALineAndLowerCaseDoNotCount) {
    for (const char* text : {"G01 N5 X1\r\n", "n10 G00\r\n", "/N10 G00\r\n", "\tN10\r\n", "(N10)\r\n", ""})
        EXPECT_FALSE(CheckForNWords(text).nLineFound) << text;
}

TEST(NumberLines, NumberedProgramIsRefusedWithTheMessage) {
    const std::string text = "G00 X0\r\nG01 X5\r\nN10 G01 X6\r\nG00\r\n";
    NumberingResult result = NumberProgram(text, 10);
    ASSERT_TRUE(result.refused());
    EXPECT_EQ(result.numberedText, "");
    Message m = NWordRefusal(result.check);
    EXPECT_EQ(m.title, "serial");
    EXPECT_EQ(m.icon, Icon::Stop);
    EXPECT_EQ(m.buttons, Buttons::Ok);
    EXPECT_EQ(m.text,
              "Beqinning of line N \r\nserial number can't set up\r\nN位於15\r\nN10 G01 X6\r\n");

    // A text numbered by the pass itself is refused the second time.
    EXPECT_TRUE(NumberProgram(Numbered(Program(3), 1), 1).refused());
}

TEST(NumberingPass, ChecksWholeTextBeforeNumberingAnyOfIt) {
    // The offending line is in the last block: nothing may have been numbered
    // when the pass stops.
    std::string text = Program(100) + "N5\r\n";
    NumberingPass pass(text, [] { return 1; }, 64);
    int steps = 0;
    while (pass.Step() == NumberingPass::Phase::Checking) ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(pass.phase(), NumberingPass::Phase::Refused);
    EXPECT_EQ(pass.numberedText(), "");
    EXPECT_EQ(pass.nextNumber(), 0);
    EXPECT_EQ(pass.check().nLineText, "N5\r\n");

    // The caller may take the output away between steps.
    const std::string program = Program(100);
    NumberingPass drained(program, [] { return 2; }, 64);
    std::string collected;
    while (drained.Step() != NumberingPass::Phase::Done) {
        collected += drained.numberedText();
        drained.numberedText().clear();
    }
    collected += drained.numberedText();
    EXPECT_EQ(collected, Numbered(program, 2));
    EXPECT_EQ(drained.nextNumber(), 200);
}

// ---- ferobrixlan-cli number ------------------------------------------------

namespace {

struct ShellRun {
    int code = -1;
    std::string out;
};

// Runs a shell command line, collecting standard output.
ShellRun Shell(const std::string& command) {
    ShellRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Slurp(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
}

}  // namespace

TEST(NumberCommand, WritesTheNumberedProgramToStandardOutputOrAFile) {
    test::TempDir dir;
    const std::string program = "%\r\nG00 X0\r\n\r\n/M01\r\nM30";
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), program).isOk());
    const std::string cli = std::string(FBX_CLI) + " number ";

    ShellRun out = Shell(cli + dir.file("p.nc") + " --interval 5");
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.out, "N 0 %\r\nN 5 G00 X0\r\n\r\n/M01\r\nN 10 M30");

    // -o onto the input itself replaces it.
    ShellRun inPlace = Shell(cli + dir.file("p.nc") + " --interval 5 -o " + dir.file("p.nc"));
    EXPECT_EQ(inPlace.code, 0);
    EXPECT_EQ(Slurp(dir.file("p.nc")), out.out);

    EXPECT_EQ(Shell(cli + dir.file("p.nc") + " --interval 0 2>/dev/null").code, 2);
    EXPECT_EQ(Shell(cli + dir.file("p.nc") + " --interval x1 2>/dev/null").code, 2);
    EXPECT_EQ(Shell(cli + dir.file("missing.nc") + " --interval 1 2>/dev/null").code, 2);
}

TEST(NumberCommand, RefusedProgramLeavesEverythingUnchanged) {
    test::TempDir dir;
    const std::string program = "G00\r\nN10 G01\r\n";
    ASSERT_TRUE(writeWholeFile(dir.file("n.nc"), program).isOk());
    ShellRun run = Shell(std::string(FBX_CLI) + " number " + dir.file("n.nc") + " --interval 1 -o " +
                    dir.file("out.nc") + " 2>&1");
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.out.find("Beqinning of line N \r\nserial number can't set up\r\nN位於4\r\nN10 G01\r\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(Slurp(dir.file("n.nc")), program);
    EXPECT_FALSE(std::ifstream(dir.file("out.nc")).good());
}

TEST(NumberCommand, IntervalDefaultsToTheConfigurationInTheCurrentDirectory) {
    test::TempDir dir;
    Settings settings;
    settings.serialInterval = "20";
    ASSERT_TRUE(saveSettings(settings, dir.file("ferobrixlan.cfg")).isOk());
    ASSERT_TRUE(writeWholeFile(dir.file("p.nc"), "G00\r\nG01\r\nG02\r\n").isOk());
    ShellRun run = Shell("cd " + dir.path() + " && " + FBX_CLI + " number p.nc");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "N 0 G00\r\nN 20 G01\r\nN 40 G02\r\n");

    // Without a configuration the default interval is used and none is
    // created.
    test::TempDir bare;
    ASSERT_TRUE(writeWholeFile(bare.file("p.nc"), "G00\r\nG01\r\n").isOk());
    run = Shell("cd " + bare.path() + " && " + FBX_CLI + " number p.nc 2>/dev/null");
    EXPECT_EQ(run.out, "N 0 G00\r\nN 1 G01\r\n");
    EXPECT_FALSE(std::ifstream(bare.file("ferobrixlan.cfg")).good());
}
