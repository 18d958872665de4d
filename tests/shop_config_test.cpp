// The shop's configuration: what a section gives a machine, and how a
// wrong section keeps only its own machine from starting.

#include <gtest/gtest.h>

#include <filesystem>

#include "ConfigFile.h"
#include "ShopConfig.h"
#include "TempDir.h"

namespace fbx::shop {
namespace {

using test::TempDir;

class ShopConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.file("nc/a"));
        std::filesystem::create_directories(dir.file("nc/b"));
    }
    ShopConfig parse(const std::string& text) { return parseShopConfig(text, dir.path()); }
    static std::string problemsOf(const ShopConfig& c) {
        std::string all;
        for (const ConfigProblem& p : c.problems) all += describe(p) + "\n";
        return all;
    }
    TempDir dir;
};

TEST_F(ShopConfigTest, SectionGivesTheMachineItsLineFoldersAndPatternAsWritten) {
    ShopConfig c = parse(
        "; the shop\n"
        "[mill-1]\n"
        "port = /dev/ttyS0\n"
        "Baud = 300\n"
        "databits = 8\nparity = N\nstopbits = 1\nhandshake = brix\ncode = auto\n"
        "rule2 = [67][2][84 69 83 84]\n"
        "folder = nc/a\n"
        "receive = continuous\nidle = 2.5\n"
        "request = \\(GET (O\\d+);\\)\n"
        "[lathe]\nport = /dev/ttyS1\nfolder = nc/b\nincoming = \"in box\"\n"
        "[service]\njournal = /var/log/shop.jsonl\n");
    ASSERT_EQ(c.problems.size(), 0u) << problemsOf(c);
    // Backslashes and a ";" stay: the pattern is the machine's, byte for byte.
    const MachineConfig mill{.name = "mill-1",
                             .port = "/dev/ttyS0",
                             .baud = 300,
                             .dataBits = 8,
                             .parity = 'n',
                             .stopBits = 1,
                             .handshake = "Brix",
                             .code = TapeCode::Auto,
                             .rules = {"", "[67][2][84 69 83 84]"},
                             .folder = dir.file("nc/a"),
                             .incoming = dir.file("nc/a/incoming"),
                             .receive = ReceiveMode::Continuous,
                             .idleSeconds = 2.5,
                             .request = "\\(GET (O\\d+);\\)"};
    const MachineConfig lathe{.name = "lathe",
                              .port = "/dev/ttyS1",
                              .folder = dir.file("nc/b"),
                              .incoming = dir.file("in box"),
                              .request = kDefaultRequest};
    EXPECT_EQ(c.machines, (std::vector{mill, lathe}));
    const Settings s = engineSettings(mill);
    EXPECT_EQ(s.handshake + s.replaceString2 + s.baudRate + s.dataBits + s.parity + s.stopBits,
              "Brix[67][2][84 69 83 84]3008n1");

    // Every rate a shop's controls use, the slow ones too.
    for (int baud : {300, 600, 1200, 2400, 4800, 9600, 19200, 38400}) {
        ShopConfig rated =
            parse("[m]\nport = /dev/ttyS0\nfolder = nc/a\nbaud = " + std::to_string(baud) + "\n");
        ASSERT_EQ(rated.machines.size(), 1u) << baud << problemsOf(rated);
        EXPECT_EQ(engineSettings(rated.machines[0]).baudRate, std::to_string(baud));
    }
    EXPECT_EQ(c.service.journal, "/var/log/shop.jsonl");
    EXPECT_EQ(c.service.stateFile, dir.file("ferobrixlan-server.state"));
}

TEST_F(ShopConfigTest, WrongSectionIsReportedWithItsKeyAndOnlyThatMachineStaysDown) {
    struct Case {
        std::string line;
        std::string key;
    };
    const Case cases[] = {
        {"baud = 110", "baud"},
        {"baud = 9600x", "baud"},
        {"databits = 6", "databits"},
        {"parity = x", "parity"},
        {"stopbits = 3", "stopbits"},
        {"handshake = hard", "handshake"},
        {"code = ASCII", "code"},
        {"rule1 = [67][2]", "rule1"},
        {"receive = always", "receive"},
        {"idle = 0", "idle"},
        {"idle = nan", "idle"},
        {"request = (LOAD", "request"},
        {"request = LOAD O[0-9]+", "request"},
        {"request = (LOAD) (O[0-9]+)", "request"},
        {"speed = 9600", "speed"},
        {"folder = nc/none", "folder"},
        {"port = ftp://10.0.0.5:4001", "port"},
        {"port = tcp://10.0.0.5", "port"},
        {"port = /dev/ttyS9\nport = /dev/ttyS8", "port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::string text = "[bad]\n";
        if (c.line.rfind("port", 0) != 0) text += "port = /dev/ttyS9\n";
        if (c.line.rfind("folder", 0) != 0) text += "folder = nc/a\n";
        text += c.line;
        const int line = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
        text += "\n[good]\nport = rfc2217://10.0.0.5:4001\nfolder = nc/b\n";
        ShopConfig config = parse(text);
        ASSERT_EQ(config.machines.size(), 1u) << problemsOf(config);
        EXPECT_EQ(config.machines[0].name, "good");
        ASSERT_EQ(config.refused, std::vector<std::string>{"bad"});
        ASSERT_FALSE(config.problems.empty());
        EXPECT_EQ(config.problems[0].section, "bad");
        EXPECT_EQ(config.problems[0].key, c.key) << describe(config.problems[0]);
        EXPECT_EQ(config.problems[0].line, line) << describe(config.problems[0]);
    }
}

TEST_F(ShopConfigTest, MissingKeysSharedLinesBrokenLinesAndTwiceGivenSectionsRefuseTheirOwn) {
    ShopConfig c = parse(
        "orphan = 1\n"
        "[no-port]\nfolder = nc/a\n"
        "[no-folder]\nport = /dev/ttyS3\n"
        "[first]\nport = /dev/ttyS4\nfolder = nc/a\n"
        "[second]\nport = /dev/ttyS4\nfolder = nc/b\n"
        "[broken]\nport = /dev/ttyS5\nthis line has no equals sign\nfolder = nc/a\nbaud = 7\n"
        "[../escape]\nport = /dev/ttyS6\nfolder = nc/b\n"
        "[last]\nport = /dev/ttyS7\nfolder = nc/b\n"
        "[twice]\nport = /dev/ttyS8\n[twice]\nfolder = nc/a\n");
    ASSERT_EQ(c.machines.size(), 2u) << problemsOf(c);
    EXPECT_EQ(c.machines[0].name, "first");
    EXPECT_EQ(c.machines[1].name, "last");
    EXPECT_EQ(c.refused, (std::vector<std::string>{"no-port", "no-folder", "second", "broken",
                                                   "../escape", "twice"}));
    const std::string all = problemsOf(c);
    for (const char* told :
         {"orphan (line 1): stands before the first [section]", "[no-port] port (line 2): missing",
          "[broken]: line 14 is neither [section] nor key = value",
          "[broken] baud (line 16): '7' is not one of",
          "[second] port (line 10): /dev/ttyS4 is the line of [first] already",
          "[twice] (line 25): given twice, on line 23 and line 25"})
        EXPECT_NE(all.find(told), std::string::npos) << told << "\n" << all;
}

TEST_F(ShopConfigTest, TheServiceChecksWhatItWillNeedAndAReloadTakesOnlyAWholeReadableFile) {
    writeWholeFile(dir.file("plain"), "a file, not a folder");
    ShopConfig c = parse(
        "[service]\njournal = plain/journal.jsonl\n"
        "[unplugged]\nport = /dev/ttyUSB99\nfolder = nc/a\n"
        "[blocked]\nport = /dev/ttyS0\nfolder = nc/b\nincoming = plain/in\n"
        "[one]\nport = tcp://127.0.0.1:4001\nfolder = nc/a\n"
        "[same]\nport = rfc2217://localhost:4001\nfolder = nc/b\n");
    EXPECT_EQ(reloadProblem(c), "");
    checkShopEnvironment(c);
    std::vector<std::string> told;
    for (const ConfigProblem& p : c.problems)
        told.push_back(describe(p).substr(0, describe(p).find(':', describe(p).find(')'))) + " " +
                       std::to_string(static_cast<int>(p.kind)));
    using Kind = ConfigProblem::Kind;
    EXPECT_EQ(told, (std::vector<std::string>{
                        "[service] journal (line 2) " + std::to_string(int(Kind::Unusable)),
                        "[unplugged] port (line 4) " + std::to_string(int(Kind::Warning)),
                        "[blocked] incoming (line 9) " + std::to_string(int(Kind::Unusable)),
                        "[same] port (line 14) " + std::to_string(int(Kind::Error))}))
        << problemsOf(c);
    EXPECT_EQ(c.refused, std::vector<std::string>{"same"});
    EXPECT_NE(reloadProblem(c), "");

    // A reload takes neither a file cut short in a section nor an empty one.
    EXPECT_NE(reloadProblem(parse("[m]\nport = /dev/ttyS0\nfol")), "");
    EXPECT_EQ(reloadProblem(parse("")), "it names no machine");
    EXPECT_EQ(parseShopConfig("", dir.path(), "/var/lib/x").service.journal,
              "/var/lib/x/journal.jsonl");
    const ShopConfig missing = readShopConfig(dir.file("missing.ini"));
    EXPECT_FALSE(missing.readable);
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_NE(missing.problems[0].message.find("missing.ini"), std::string::npos);
}

}  // namespace
}  // namespace fbx::shop
