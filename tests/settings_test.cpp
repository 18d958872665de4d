#include <gtest/gtest.h>

#include "ConfigFile.h"
#include "TempDir.h"

using namespace fbx;
using fbx::test::fileBytes;

namespace {

// A file of the given values, each quoted, one line.
std::string lineOf(const std::vector<std::string>& values) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) line += (i ? ",\"" : "\"") + values[i] + "\"";
    return line + "\r\n";
}

const std::vector<std::string> kDefaults = {"",  "",  "ON",   "ON",  "OFF",   "1", "9600", "7",
                                            "2", "e", "Soft", "ISO", "",      "",  "",     "",
                                            "",  "",  "",     "1",   "NOMAL", "",  "",     "0"};

}  // namespace

// A first run, and every file that is not a configuration, give the defaults,
// written byte for byte; a restore from such a file (an NC program picked by
// mistake) takes them in memory only and never writes over it.
TEST(ConfigFile, MissingOrDamagedFilesGiveTheDefaults) {
    test::TempDir dir;
    const std::string path = dir.file("ferobrixlan.cfg");
    std::vector<std::string> bad23 = kDefaults;
    bad23[23] = "40000";
    const std::string program = "%\r\nO1234\r\nG00 X0 Y0\r\nM30\r\n%\r\n";
    const std::string damaged[] = {"",  // no file
                                   std::string("\0\1\2\377\"\n\r,,,", 10),
                                   "\"unmatched, \"quote",
                                   lineOf({"a", "b", "c"}),
                                   std::string(10 * 1024 * 1024, '"'),
                                   lineOf(bad23),
                                   program};  // restored from
    for (const std::string& content : damaged) {
        if (!content.empty()) ASSERT_TRUE(writeWholeFile(path, content).isOk());
        const bool restore = content == program;
        Settings s;
        s.port = "2";
        LoadOutcome out =
            loadSettings(s, path, restore ? LoadPurpose::Restore : LoadPurpose::Startup);
        EXPECT_TRUE(out.defaultsTaken);
        EXPECT_EQ(out.defaultsWritten, !restore);
        EXPECT_EQ(s, Settings{});
        EXPECT_EQ(fileBytes(path), restore ? program : lineOf(kDefaults));
    }
}

TEST(ConfigFile, EverySettingAndEveryByteButTheQuoteSurvivesASaveAndALoad) {
    test::TempDir dir;
    const std::string path = dir.file("shop1.cfg");
    Settings s;
    s.baudRate = "19200";
    s.handshake = "Brix";
    s.replaceString1 = "[67][2][84 69 83 84]";
    s.starterString = "line one\r\nline two";
    s.replaceString3 = "  leading and trailing blanks  ";
    s.mode = "DNC";
    s.sendingEdit = 1;
    for (int b = 1; b < 256; ++b)
        if (b != '"') s.editorPath += static_cast<char>(b);
    // Each field in its own place: its number as its value.
    std::vector<std::string*> fields = {&s.lastFilePath,      &s.sendView,       &s.receiveView,
                                        &s.spareSwitch,       &s.port,           &s.dataBits,
                                        &s.stopBits,          &s.parity,         &s.code,
                                        &s.replaceString2,    &s.replaceString4, &s.replaceString5,
                                        &s.terminationString, &s.serialInterval};
    for (size_t i = 0; i < fields.size(); ++i) *fields[i] += "v" + std::to_string(i);
    ASSERT_TRUE(saveSettings(s, path).isOk());
    std::vector<std::string> values = readConfigValues(fileBytes(path));
    ASSERT_EQ(values.size(), 24u);
    EXPECT_EQ(values[21], path);  // the file names itself
    Settings back;
    ASSERT_TRUE(loadSettings(back, path).loaded);
    EXPECT_EQ(back, s);

    // A quote cannot be stored: it is left out, so that the file stays readable.
    s.replaceString1 = "[67][\"2][84]";
    ASSERT_TRUE(saveSettings(s, path).isOk());
    ASSERT_TRUE(loadSettings(back, path).loaded);
    EXPECT_EQ(back.replaceString1, "[67][2][84]");
}

TEST(ConfigFile, ReaderRules) {
    // Unquoted values and blanks before the opening quote read like quoted
    // ones; one value per line reads like one line; 25 values are taken.
    std::string text = lineOf(kDefaults);
    text.replace(text.find("\"9600\""), 6, "9600");
    text.replace(text.find("\"Soft\""), 6, "   \"Soft\"");
    std::string lines;
    for (const std::string& v : kDefaults) lines += "\"" + v + "\"\r\n";
    std::vector<std::string> v25 = kDefaults;
    v25.push_back("extra");
    for (const std::string& t : {text, lines, lineOf(v25)}) {
        Settings s;
        s.port = "x";
        ASSERT_TRUE(parseConfig(t, s)) << t;
        EXPECT_EQ(s, Settings{});
    }
    Settings s;
    EXPECT_FALSE(
        parseConfig(lineOf(std::vector<std::string>(kDefaults.begin(), kDefaults.end() - 1)), s));
}

TEST(ConfigFile, Value23IsA16BitNumberRoundedDown) {
    const struct {
        const char* text;
        int value;  // -99: refused
    } cases[] = {{" 7 ", 7},
                 {"32767", 32767},
                 {"-32768", -32768},
                 {"32768", -99},
                 {"-32769", -99},
                 {"1x", -99},
                 {"99999999999999999999", -99},
                 {"32767.999999999999", 32767},
                 {"-32768.0000000000001", -99},
                 {"-0.0000000000001", -1}};
    for (const auto& c : cases) {
        std::int16_t out = 42;
        EXPECT_EQ(parseSendingEdit(c.text, out), c.value != -99) << c.text;
        EXPECT_EQ(out, c.value == -99 ? 42 : c.value) << c.text;
    }
}
