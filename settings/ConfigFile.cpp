#include "ConfigFile.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace fbx {

namespace {

constexpr char kSeparator = '/';

// Field order of the file, fields 0..20 (21 and 22 carry no field).
std::array<std::string*, 21> fieldsOf(Settings& s) {
    return {&s.lastFilePath,   &s.editorPath,     &s.sendView,       &s.receiveView,
            &s.spareSwitch,    &s.port,           &s.baudRate,       &s.dataBits,
            &s.stopBits,       &s.parity,         &s.handshake,      &s.code,
            &s.replaceString1, &s.replaceString2, &s.replaceString3, &s.replaceString4,
            &s.replaceString5, &s.starterString,  &s.terminationString, &s.serialInterval,
            &s.mode};
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Consumes one separator at pos: a comma, or a line end (CR LF counts as one).
void skipSeparator(std::string_view text, size_t& pos) {
    if (pos >= text.size()) return;
    if (text[pos] == ',') {
        ++pos;
    } else if (text[pos] == '\r') {
        ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
    } else if (text[pos] == '\n') {
        ++pos;
    }
}

void appendQuoted(std::string& line, const std::string& value) {
    line += '"';
    for (char c : value) {
        if (c != '"') line += c;
    }
    line += '"';
}

}  // namespace

std::string programDirFrom(std::string currentDir) {
    if (currentDir.empty() || currentDir.back() != kSeparator) currentDir += kSeparator;
    return currentDir;
}

std::string defaultConfigPath(const std::string& programDir) {
    return programDir + "ferobrixlan.cfg";
}

std::string formatConfigLine(const Settings& settings, const std::string& configPath) {
    Settings copy = settings;
    std::string line;
    bool first = true;
    for (std::string* field : fieldsOf(copy)) {
        if (!first) line += ',';
        first = false;
        appendQuoted(line, *field);
    }
    line += ',';
    appendQuoted(line, configPath);
    line += ",\"\",";
    appendQuoted(line, std::to_string(settings.sendingEdit));
    line += "\r\n";
    return line;
}

std::vector<std::string> readConfigValues(std::string_view text, int maxValues) {
    std::vector<std::string> values;
    size_t pos = 0;
    while (static_cast<int>(values.size()) < maxValues && pos < text.size()) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos < text.size() && text[pos] == '"') {
            size_t close = text.find('"', pos + 1);
            if (close == std::string_view::npos) {
                // An unmatched quote runs to the end of the file.
                values.emplace_back(text.substr(pos + 1));
                pos = text.size();
                break;
            }
            values.emplace_back(text.substr(pos + 1, close - pos - 1));
            pos = close + 1;
            while (pos < text.size() && text[pos] != ',' && !isLineEnd(text[pos])) ++pos;
        } else {
            size_t end = pos;
            while (end < text.size() && text[end] != ',' && !isLineEnd(text[end])) ++end;
            values.emplace_back(text.substr(pos, end - pos));
            pos = end;
        }
        skipSeparator(text, pos);
    }
    return values;
}

bool parseSendingEdit(std::string_view text, std::int16_t& out) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    if (t.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (t[i] == '+' || t[i] == '-') negative = t[i++] == '-';
    // The integer part, and whether any fraction digit is not 0: enough to
    // round down exactly and to decide the 16-bit range. Long digit runs are
    // capped well outside that range.
    long integer = 0;
    bool digits = false;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
        integer = std::min(integer * 10 + (t[i] - '0'), 1000000L);
        digits = true;
        ++i;
    }
    bool fraction = false;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
            fraction = fraction || t[i] != '0';
            digits = true;
            ++i;
        }
    }
    if (!digits || i != t.size()) return false;
    const long number = negative ? -integer - (fraction ? 1 : 0) : integer;
    if (number < -32768 || number > 32767) return false;
    out = static_cast<std::int16_t>(number);
    return true;
}

bool parseConfig(std::string_view text, Settings& settings) {
    std::vector<std::string> values = readConfigValues(text);
    if (static_cast<int>(values.size()) < kConfigValueCount) return false;
    auto fields = fieldsOf(settings);
    for (size_t i = 0; i < fields.size(); ++i) *fields[i] = values[i];
    return parseSendingEdit(values[23], settings.sendingEdit);
}

LoadOutcome loadSettings(Settings& settings, const std::string& configPath, LoadPurpose purpose) {
    LoadOutcome outcome;
    std::string text;
    if (readWholeFile(configPath, text).isOk() && parseConfig(text, settings)) {
        outcome.loaded = true;
        return outcome;
    }
    outcome.defaultsTaken = true;
    if (purpose == LoadPurpose::Startup) {
        outcome.writeStatus = resetSettings(settings, configPath);
        outcome.defaultsWritten = outcome.writeStatus.isOk();
    } else {
        settings = Settings{};
    }
    return outcome;
}

Status saveSettings(const Settings& settings, const std::string& configPath) {
    return replaceFile(configPath, formatConfigLine(settings, configPath));
}

Status resetSettings(Settings& settings, const std::string& configPath) {
    settings = Settings{};
    // The record of defaults has field 21 empty.
    return replaceFile(configPath, formatConfigLine(settings, std::string()));
}

}  // namespace fbx
