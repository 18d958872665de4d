#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ConfigFile.h"
#include "ProTool.h"
#include "TempDir.h"

using namespace fbx;

namespace {

std::string slurp(const std::string& path) {
    std::string text;
    EXPECT_TRUE(readWholeFile(path, text).isOk());
    return text;
}

// A file of the given values, each quoted, one line.
std::string lineOf(const std::vector<std::string>& values) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) line += (i ? ",\"" : "\"") + values[i] + "\"";
    return line + "\r\n";
}

std::vector<std::string> defaultValues() {
    return {"", "", "ON", "ON", "OFF", "1", "9600", "7", "2", "e", "Soft", "ISO",
            "", "", "", "", "", "", "", "1", "NOMAL", "", "", "0"};
}
const std::string kDefaultsLine = lineOf(defaultValues());

Settings custom() {
    Settings s;
    s.lastFilePath = "/home/op/o1234.nc";
    s.editorPath = "/opt/tools/a,b";
    s.baudRate = "19200";
    s.dataBits = "8";
    s.stopBits = "1";
    s.parity = "n";
    s.handshake = "Brix";
    s.code = "EIA";
    s.replaceString1 = "[67][2][84 69 83 84]";
    s.terminationString = "[37][0][13 10]";
    s.serialInterval = "10";
    s.mode = "DNC";
    s.sendingEdit = 1;
    return s;
}

}  // namespace

TEST(ConfigFile, FirstRunWritesTheDefaultsByteForByte) {
    test::TempDir dir;
    std::string path = defaultConfigPath(programDirFrom(dir.path()));
    EXPECT_EQ(path, dir.path() + "/ferobrixlan.cfg");
    EXPECT_EQ(defaultConfigPath(programDirFrom("/")), "/ferobrixlan.cfg");  // one separator
    Settings s = custom();
    LoadOutcome out = loadSettings(s, path);
    EXPECT_FALSE(out.loaded);
    EXPECT_TRUE(out.defaultsTaken);
    EXPECT_TRUE(out.defaultsWritten);
    EXPECT_EQ(s, Settings{});
    EXPECT_EQ(slurp(path), kDefaultsLine);
    EXPECT_EQ(s.sendingEdit, 0);
}

TEST(ConfigFile, EverySettingAndEveryByteButTheQuoteSurvivesASaveAndALoad) {
    test::TempDir dir;
    std::string path = dir.file("shop1.cfg");
    Settings s = custom();
    for (int b = 1; b < 256; ++b)
        if (b != '"') s.editorPath += static_cast<char>(b);
    s.replaceString3 = "  leading and trailing blanks  ";
    s.starterString = "line one\r\nline two";
    ASSERT_TRUE(saveSettings(s, path).isOk());
    std::vector<std::string> values = readConfigValues(slurp(path));
    ASSERT_EQ(values.size(), 24u);
    EXPECT_EQ(values[21], path);  // the file names itself
    EXPECT_EQ(values[22], "");
    Settings back;
    LoadOutcome out = loadSettings(back, path);
    EXPECT_TRUE(out.loaded);
    EXPECT_FALSE(out.defaultsTaken);
    EXPECT_EQ(back, s);

    // A quote cannot be stored: it is left out, so that the file stays readable.
    s.replaceString1 = "[67][\"2][84]";
    ASSERT_TRUE(saveSettings(s, path).isOk());
    ASSERT_TRUE(loadSettings(back, path).loaded);
    EXPECT_EQ(back.replaceString1, "[67][2][84]");
    EXPECT_EQ(back.sendingEdit, 1);
}

TEST(ConfigFile, ReaderRules) {
    // Unquoted values and blanks before the opening quote read like quoted ones.
    std::string text = kDefaultsLine;
    text.replace(text.find("\"9600\""), 6, "9600");
    text.replace(text.find("\"Soft\""), 6, "   \"Soft\"");
    Settings s;
    ASSERT_TRUE(parseConfig(text, s));
    EXPECT_EQ(s, Settings{});

    // One value per line.
    std::string lines;
    for (const std::string& v : defaultValues()) lines += "\"" + v + "\"\r\n";
    Settings t;
    t.port = "x";
    ASSERT_TRUE(parseConfig(lines, t));
    EXPECT_EQ(t, Settings{});

    // Text after the closing quote up to the comma is skipped.
    std::vector<std::string> v = readConfigValues("\"a\"junk,\"b\"\n c ,\"d,e\"");
    EXPECT_EQ(v, (std::vector<std::string>{"a", "b", "c ", "d,e"}));
}

TEST(ConfigFile, ValueCountsAndValue23) {
    std::vector<std::string> values = defaultValues();
    Settings s;

    std::vector<std::string> v23(values.begin(), values.end() - 1);
    EXPECT_FALSE(parseConfig(lineOf(v23), s));

    std::vector<std::string> v25 = values;
    v25[23] = "1";
    v25.push_back("extra");
    ASSERT_TRUE(parseConfig(lineOf(v25), s));
    EXPECT_EQ(s.sendingEdit, 1);

    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {{"0", true, 0},       {"1", true, 1},        {" 7 ", true, 7},
                 {"1.9", true, 1},     {"-0.5", true, -1},    {"32767", true, 32767},
                 {"-32768", true, -32768}, {"32768", false, 0}, {"-32769", false, 0},
                 {"x", false, 0},      {"", false, 0},        {"1x", false, 0},
                 {"99999999999999999999", false, 0}, {"-32768.0000000000001", false, 0},
                 {"32767.999999999999", true, 32767}, {"-0.0000000000001", true, -1},
                 {"-0", true, 0}, {".5", true, 0}, {"-.", false, 0}};
    for (const Case& c : cases) {
        std::int16_t out = 42;
        EXPECT_EQ(parseSendingEdit(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.value) << c.text;
        }
    }
}

TEST(ConfigFile, DamagedFilesFallBackToTheDefaultsAndAreRewritten) {
    test::TempDir dir;
    std::string path = dir.file("ferobrixlan.cfg");
    std::vector<std::string> damaged = {
        "",
        std::string("\0\1\2\377\"\n\r,,,", 10),
        "no quotes at all",
        "\"unmatched, \"quote",
        lineOf({"a", "b", "c"}),
        std::string(10 * 1024 * 1024, ','),
        std::string(10 * 1024 * 1024, '"'),
    };
    std::vector<std::string> bad23 = defaultValues();
    bad23[23] = "x";
    damaged.push_back(lineOf(bad23));
    bad23[23] = "40000";
    damaged.push_back(lineOf(bad23));

    for (const std::string& content : damaged) {
        ASSERT_TRUE(writeWholeFile(path, content).isOk());
        Settings s = custom();
        LoadOutcome out = loadSettings(s, path);
        EXPECT_TRUE(out.defaultsTaken);
        EXPECT_TRUE(out.defaultsWritten);
        EXPECT_EQ(s, Settings{});
        EXPECT_EQ(slurp(path), kDefaultsLine);
    }
}

TEST(ConfigFile, RestoreFromAProgramNeverOverwritesIt) {
    test::TempDir dir;
    std::string path = dir.file("O1234.nc");
    const std::string program = "%\r\nO1234\r\nG00 X0 Y0\r\nM30\r\n%\r\n";
    ASSERT_TRUE(writeWholeFile(path, program).isOk());
    Settings s = custom();
    LoadOutcome out = loadSettings(s, path, LoadPurpose::Restore);
    EXPECT_TRUE(out.defaultsTaken);
    EXPECT_FALSE(out.defaultsWritten);
    EXPECT_EQ(s, Settings{});
    EXPECT_EQ(slurp(path), program);
}

TEST(ConfigFile, AFileThatCannotBeWrittenIsReportedWithItsPath) {
    test::TempDir dir;
    std::string path = dir.file("no/such/dir/ferobrixlan.cfg");
    Settings s;
    LoadOutcome out = loadSettings(s, path);
    EXPECT_TRUE(out.defaultsTaken);
    EXPECT_FALSE(out.defaultsWritten);
    EXPECT_EQ(out.writeStatus.code(), Status::Code::FileError);
    EXPECT_NE(out.writeStatus.message().find(path), std::string::npos);
    Status save = saveSettings(s, path);
    EXPECT_FALSE(save.isOk());
    EXPECT_NE(save.message().find(path), std::string::npos);
}

TEST(ProTool, CodeTable) {
    Settings s;
    SerialCodes c;
    ProTool(s, c);
    EXPECT_EQ(c, (SerialCodes{1, 12, 24, 2, 4}));
    EXPECT_EQ(c.modeWord(), 30);

    s.port = "2";
    s.baudRate = "57600";
    s.parity = "n";
    s.dataBits = "8";
    s.stopBits = "1";
    ProTool(s, c);
    EXPECT_EQ(c, (SerialCodes{2, 15, 0, 3, 0}));
    EXPECT_EQ(c.modeWord(), 3);

    const std::pair<const char*, int> bauds[] = {{"300", 5},    {"600", 6},    {"1200", 7},
                                                 {"2400", 9},   {"4800", 10},  {"9600", 12},
                                                 {"19200", 13}, {"38400", 14}};
    for (auto [text, code] : bauds) {
        s.baudRate = text;
        ProTool(s, c);
        EXPECT_EQ(c.baudCode, code) << text;
    }
    s.parity = "o";
    s.dataBits = "6";
    ProTool(s, c);
    EXPECT_EQ(c.parityCode, 8);
    EXPECT_EQ(c.dataBitsCode, 1);
}

TEST(ProTool, UnmatchedTextsLeaveTheirCodes) {
    Settings s;
    SerialCodes fresh;
    s.baudRate = "115200";
    s.parity = "E";
    s.port = "COM3";  // no port number
    ProTool(s, fresh);
    EXPECT_EQ(fresh.baudCode, 0);
    EXPECT_EQ(fresh.parityCode, 0);
    EXPECT_EQ(fresh.portNumber, 0);
    EXPECT_EQ(fresh.dataBitsCode, 2);

    SerialCodes set;
    ProTool(Settings{}, set);
    ProTool(s, set);
    EXPECT_EQ(set.baudCode, 12);
    EXPECT_EQ(set.parityCode, 24);
    EXPECT_EQ(set.portNumber, 1);

    // Such a line is not to be opened with a stale code: the text is named.
    EXPECT_EQ(unknownLineSetting(s), "baud rate \"115200\"");
    s.baudRate = "57600";
    EXPECT_EQ(unknownLineSetting(s), "parity \"E\"");
    EXPECT_EQ(unknownLineSetting(Settings{}), "");
}

TEST(ProTool, StatusLine) {
    Settings s;
    EXPECT_EQ(statusLineText(s),
              "Software Handshake     comm port=1       9600,7,2     e      NOMAL");
    s.handshake = "Brix";
    s.mode = "Data In/Out";
    s.port = "2";
    EXPECT_EQ(statusLineText(s),
              "Brixware Handshake     comm port=2       9600,7,2     e      Data In/Out");
}
