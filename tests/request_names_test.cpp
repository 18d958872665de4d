// Names that come from the line: the program a request asks for, the
// O-number that names a stored file, and how they reach the disk and the
// journal.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <csignal>
#include <filesystem>

#include "ConfigFile.h"
#include "Journal.h"
#include "ProgramNames.h"
#include "RequestMatcher.h"
#include "ShopConfig.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

namespace fs = std::filesystem;
using test::fileBytes;
using test::TempDir;

RequestMatcher compiled(const std::string& pattern) {
    RequestMatcher m;
    std::string error;
    EXPECT_TRUE(m.compile(pattern, error)) << error;
    return m;
}

TEST(RequestMatcher, DefaultPatternFindsTheCommentAnywhereAndCapturesWhateverItNames) {
    RequestMatcher m = compiled(kDefaultRequest);
    EXPECT_EQ(m.match("%\r\n(LOAD O1234)\r\n%"), "O1234");
    EXPECT_EQ(m.match("%\r\nO9 (PART)\r\nG00 X0 (SEND  O77 )\r\nM30\r\n%"), "O77");
    EXPECT_EQ(m.match("%\r\n(LOAD ../../etc/passwd)\r\n%"), "../../etc/passwd");
    EXPECT_EQ(m.match("%\r\nO1234 (LOADED O1234)\r\nM30\r\n%"), std::nullopt);
    EXPECT_EQ(m.match("%\r\n(load o1234)\r\n%"), std::nullopt);
}

TEST(RequestMatcher, LongUnluckyProgramEndsTheMatchInsteadOfHangingTheService) {
    // Without a bound this match would not end in the lifetime of the shop.
    EXPECT_EQ(compiled(R"(^(a+)+$)").match(std::string(40000, 'a') + "!"), std::nullopt);
    RequestMatcher def = compiled(kDefaultRequest);
    EXPECT_EQ(def.match(std::string(3'000'000, '(')), std::nullopt);
}

TEST(ProgramNames, OnlyPlainShortNamesPass) {
    for (const std::string& ok :
         std::vector<std::string>{"O1234", "MILL 7.NC", std::string(64, 'x'), "a.b"})
        EXPECT_EQ(nameProblem(ok), "") << ok;
    for (const std::string& bad :
         std::vector<std::string>{"", ".", "..", "../x", "x/..", "a..b", "/etc/passwd", "sub/O1",
                                  std::string(65, 'x'), "O1\x01", "O1\x7f", std::string("O1\0", 3)})
        EXPECT_NE(nameProblem(bad), "") << bad;
}

TEST(ProgramNames, FirstProgramNumberIsAnOStandingAloneWithOneToEightDigits) {
    EXPECT_EQ(firstProgramNumber("%\r\nO1234 (X)\r\nO55\r\n%"), "O1234");
    EXPECT_EQ(firstProgramNumber("%\r\n(FOO1234 O)\r\nG0 O55\r\n%"), "O55");
    EXPECT_EQ(firstProgramNumber("%\r\nO123456789\r\nO12345678\r\n"), "O12345678");
    EXPECT_EQ(firstProgramNumber("%\r\nG00 X1\r\n%"), "");
}

// A request's name is looked for as NAME.nc, .txt, .tap; a name that would
// leave the folder (what a custom pattern that captures slashes may bring) is
// refused.
TEST(Requested, FindsNcThenTxtThenTapAndRefusesNamesThatLeaveTheFolder) {
    TempDir dir;
    const std::string folder = dir.file("nc");
    fs::create_directories(folder + "/sub");
    for (const char* name : {"O1.nc", "O1.txt", "O2.tap", "sub/O3.nc"})
        writeWholeFile(folder + "/" + name, "%\r\nO\r\n%");
    writeWholeFile(dir.file("secret"), "not for the line");
    fs::create_symlink(dir.file("secret"), folder + "/LINK.nc");
    EXPECT_EQ(findRequested(folder, "O1").path, fs::canonical(folder).string() + "/O1.nc");
    EXPECT_EQ(fs::path(findRequested(folder, "O2").path).filename(), "O2.tap");
    EXPECT_EQ(findRequested(folder, "O4").kind, Requested::Kind::Missing);
    RequestMatcher slashes = compiled(R"(\(GET ([^)]+)\))");
    for (const char* program :
         {"%\r\n(GET ../../etc/passwd)\r\n%", "%\r\n(GET /etc/passwd)\r\n%",
          "%\r\n(GET sub/O3)\r\n%", "%\r\n(GET ..)\r\n%", "%\r\n(GET LINK)\r\n%"}) {
        std::optional<std::string> name = slashes.match(program);
        ASSERT_TRUE(name) << program;
        Requested r = findRequested(folder, *name);
        EXPECT_EQ(r.kind, Requested::Kind::Refused) << program;
        EXPECT_EQ(r.path, "");
        EXPECT_NE(r.reason, "");
    }
    EXPECT_EQ(pathInside(folder, "LINK.nc"), "");
}

TEST(StoreProgram, NeverReplacesAFileAndLeavesNothingHalfWritten) {
    TempDir dir;
    writeWholeFile(dir.file("O7.nc"), "older");
    std::string first, second;
    ASSERT_TRUE(storeProgram(dir.path(), "O7", ".nc", "%\r\nO7 A\r\n%", first).isOk());
    ASSERT_TRUE(storeProgram(dir.path(), "O7", ".nc", "%\r\nO7 B\r\n%", second).isOk());
    EXPECT_EQ(first, dir.file("O7-1.nc"));
    EXPECT_EQ(second, dir.file("O7-2.nc"));
    EXPECT_EQ(fileBytes(dir.file("O7.nc")), "older");
    EXPECT_EQ(fileBytes(first), "%\r\nO7 A\r\n%");
    EXPECT_EQ(fileBytes(second), "%\r\nO7 B\r\n%");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
    fs::remove(first);  // the numbers go on from the last one given
    ASSERT_TRUE(storeProgram(dir.path(), "O7", ".nc", "%\r\nO7 C\r\n%", first).isOk());
    EXPECT_EQ(first, dir.file("O7-3.nc"));
    std::string refused;
    EXPECT_FALSE(storeProgram(dir.path(), "../O7", ".nc", "x", refused).isOk());
    EXPECT_FALSE(fs::exists(dir.file("../O7.nc")));
}

TEST(Journal, NamesFromTheLineGiveOneValidJsonLine) {
    JournalRecord r;
    r.machine = "mill-1";
    r.direction = "request";
    r.file = std::string("..\"/\\\x01\r\n\xe9", 9);
    r.crc32 = 0x0a0b0c0d;
    r.outcome = "refused";
    const std::string line = formatJournalLine(r);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_NE(line.find(R"("file":"..\"/\\\u0001\u000d\u000a)"
                        "\xc3\xa9\""),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(R"("crc32":"0a0b0c0d")"), std::string::npos) << line;
}

TEST(Journal, AWriteTheDiskCannotTakeIsTakenBackAndWrittenWholeLaterOnALineOfItsOwn) {
    TempDir dir;
    const std::string path = dir.file("journal.jsonl");
    writeWholeFile(path, "{\"torn\":");  // a crash in the middle of a line
    Journal journal(path);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit normal{};
    getrlimit(RLIMIT_FSIZE, &normal);
    rlimit full = normal;
    full.rlim_cur = 40;  // a part of a line fits
    std::vector<JournalRecord> records(2);
    records[0].file = "O1.nc";
    records[1].file = "O2.nc";
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    for (const JournalRecord& r : records) EXPECT_FALSE(journal.append(r).isOk());
    setrlimit(RLIMIT_FSIZE, &normal);
    EXPECT_EQ(fileBytes(path), "{\"torn\":");
    EXPECT_EQ(journal.failure().substr(0, 36), "2 journal records wait to be written");
    EXPECT_TRUE(journal.retry().isOk());
    EXPECT_EQ(journal.failure(), "");
    EXPECT_EQ(fileBytes(path), "{\"torn\":\n" + formatJournalLine(records[0]) + "\n" +
                                   formatJournalLine(records[1]) + "\n");
    // At start-up a torn last line is ended at once.
    writeWholeFile(path, "{\"torn\":");
    bool repaired = false;
    ASSERT_TRUE(journal.endTornLine(repaired).isOk());
    EXPECT_TRUE(repaired);
    EXPECT_EQ(fileBytes(path), "{\"torn\":\n");
}

}  // namespace
}  // namespace fbx::shop
