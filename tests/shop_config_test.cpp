// The shop's configuration: what a section gives a machine, and how a
// wrong section keeps only its own machine from starting.

#include <gtest/gtest.h>

#include <filesystem>

#include "ProTool.h"
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
    ASSERT_EQ(c.machines.size(), 2u);
    const MachineConfig& m = c.machines[0];
    EXPECT_EQ(m.name, "mill-1");
    EXPECT_EQ(m.folder, dir.file("nc/a"));
    EXPECT_EQ(m.incoming, dir.file("nc/a/incoming"));
    EXPECT_EQ(m.code, TapeCode::Auto);
    EXPECT_EQ(m.receive, ReceiveMode::Continuous);
    EXPECT_DOUBLE_EQ(m.idleSeconds, 2.5);
    // Backslashes and a ";" stay: the pattern is the machine's, byte for byte.
    EXPECT_EQ(m.request, "\\(GET (O\\d+);\\)");

    const Settings s = engineSettings(m);
    EXPECT_EQ(s.handshake, "Brix");
    EXPECT_EQ(s.replaceString2, "[67][2][84 69 83 84]");
    SerialCodes codes;
    ProTool(s, codes);
    EXPECT_EQ(codes.baudCode, 5);
    EXPECT_EQ(codes.modeWord(), 3);  // 8 data bits, 1 stop bit, no parity

    const MachineConfig& lathe = c.machines[1];
    EXPECT_EQ(lathe.baud, 9600);
    EXPECT_EQ(lathe.dataBits, 7);
    EXPECT_EQ(lathe.parity, 'e');
    EXPECT_EQ(lathe.stopBits, 2);
    EXPECT_EQ(lathe.code, TapeCode::Iso);
    EXPECT_EQ(lathe.receive, ReceiveMode::Marks);
    EXPECT_EQ(lathe.incoming, dir.file("in box"));
    EXPECT_EQ(lathe.request, kDefaultRequest);
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
        text += c.line + "\n[good]\nport = rfc2217://10.0.0.5:4001\nfolder = nc/b\n";
        ShopConfig config = parse(text);
        ASSERT_EQ(config.machines.size(), 1u) << problemsOf(config);
        EXPECT_EQ(config.machines[0].name, "good");
        ASSERT_EQ(config.refused, std::vector<std::string>{"bad"});
        ASSERT_FALSE(config.problems.empty());
        EXPECT_EQ(config.problems[0].section, "bad");
        EXPECT_EQ(config.problems[0].key, c.key) << describe(config.problems[0]);
    }
}

TEST_F(ShopConfigTest, MissingKeysSharedLinesAndBrokenLinesRefuseTheirOwnSection) {
    ShopConfig c = parse(
        "orphan = 1\n"
        "[no-port]\nfolder = nc/a\n"
        "[no-folder]\nport = /dev/ttyS3\n"
        "[first]\nport = /dev/ttyS4\nfolder = nc/a\n"
        "[second]\nport = /dev/ttyS4\nfolder = nc/b\n"
        "[broken]\nport = /dev/ttyS5\nthis line has no equals sign\nfolder = nc/a\n"
        "[../escape]\nport = /dev/ttyS6\nfolder = nc/b\n"
        "[last]\nport = /dev/ttyS7\nfolder = nc/b\n");
    ASSERT_EQ(c.machines.size(), 2u) << problemsOf(c);
    EXPECT_EQ(c.machines[0].name, "first");
    EXPECT_EQ(c.machines[1].name, "last");
    EXPECT_EQ(c.refused,
              (std::vector<std::string>{"broken", "no-port", "no-folder", "second", "../escape"}));
    const std::string all = problemsOf(c);
    EXPECT_NE(all.find("orphan: stands before the first [section]"), std::string::npos) << all;
    EXPECT_NE(all.find("[broken]: line 14"), std::string::npos) << all;
    EXPECT_NE(all.find("[second] port: /dev/ttyS4 is the line of [first] already"),
              std::string::npos)
        << all;
}

TEST_F(ShopConfigTest, UnreadableFileIsSaidSoAndStartsNothing) {
    ShopConfig c = readShopConfig(dir.file("missing.ini"));
    EXPECT_FALSE(c.readable);
    EXPECT_TRUE(c.machines.empty());
    ASSERT_EQ(c.problems.size(), 1u);
    EXPECT_NE(c.problems[0].message.find("missing.ini"), std::string::npos);
}

}  // namespace
}  // namespace fbx::shop
