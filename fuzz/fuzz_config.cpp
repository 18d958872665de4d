// Feeds arbitrary bytes to the configuration file reader as the contents of
// ferobrixlan.cfg and checks what must hold for any file, however damaged:
//   - at most 24 values are read, and the first 24 of a 25-value read are
//     the same values;
//   - every value is a piece of the file, the pieces in file order, and they
//     are the values of a byte-at-a-time reading of the file;
//   - parseConfig succeeds exactly when there are 24 values and value 23 is
//     a number, and then fields 0..20 are values 0..20;
//   - a record that loaded is written by formatConfigLine as 24 quoted values
//     that load back into the same record (minus double quotes, which the
//     writer leaves out; field 21 carries the path, field 22 is empty);
//   - value 23 is accepted exactly when its integer part, rounded down, lies
//     in -32768..32767, and that integer part is what is stored.
//
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ConfigFile.h"
#include "FuzzCheck.h"
#include "Settings.h"

namespace {

constexpr const char* kFuzzTarget = "fuzz_config";

std::string withoutQuotes(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c != '"') out += c;
    }
    return out;
}

// Fields 0..20 in file order, of a record that may or may not be const.
template <typename Record>
auto fieldsOf(Record& s) {
    // clang-format off
    return std::array{
        &s.lastFilePath, &s.editorPath, &s.sendView, &s.receiveView, &s.spareSwitch,
        &s.port, &s.baudRate, &s.dataBits, &s.stopBits, &s.parity, &s.handshake, &s.code,
        &s.replaceString1, &s.replaceString2, &s.replaceString3, &s.replaceString4,
        &s.replaceString5, &s.starterString, &s.terminationString, &s.serialInterval,
        &s.mode};
    // clang-format on
}

fbx::Settings withoutQuotes(fbx::Settings s) {
    for (std::string* field : fieldsOf(s)) *field = withoutQuotes(*field);
    return s;
}

struct Reference {
    bool number = false;  // the trimmed text is [+-]digits[.digits] with a digit
    long floorValue = 0;  // integer part rounded down, clamped to +-1e6
    int fractionDigits = 0;
};

// Value 23 worked out in whole numbers: the integer digits and whether any
// fraction digit is not 0 give the rounded-down integer part exactly.
Reference referenceNumber(std::string_view text) {
    Reference ref;
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string_view t = text.substr(b, e - b);
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    long integer = 0;
    bool digits = false;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        integer = std::min(integer * 10 + (t[i] - '0'), 1000000L);
        digits = true;
    }
    bool fractionNonZero = false;
    if (i < t.size() && t[i] == '.') {
        for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
            fractionNonZero = fractionNonZero || t[i] != '0';
            ++ref.fractionDigits;
            digits = true;
        }
    }
    ref.number = digits && i == t.size();
    ref.floorValue = negative ? -integer - (fractionNonZero ? 1 : 0) : integer;
    return ref;
}

void checkSendingEdit(std::string_view text) {
    std::int16_t out = 0x5a5a;
    const bool accepted = fbx::parseSendingEdit(text, out);
    const Reference ref = referenceNumber(text);
    const bool inRange = ref.number && ref.floorValue >= -32768 && ref.floorValue <= 32767;
    if (!accepted) CHECK(out == 0x5a5a);
    if (!ref.number) {
        CHECK(!accepted);
        return;
    }
    CHECK(accepted == inRange);
    if (accepted) CHECK(out == ref.floorValue);
}

// The file read one byte at a time: blanks before a value are skipped; a
// value that opens with a double quote runs to the next one (to the end of the
// file when there is none) and the rest up to the separator is skipped; any
// other value runs to the separator. A separator is a comma, CR LF, CR or LF.
// The file ending right after a separator ends the values; ending anywhere
// else ends the last value.
std::vector<std::string> modelValues(std::string_view text, size_t maxValues) {
    enum class State { Blanks, Quoted, AfterQuote, Plain };
    std::vector<std::string> values;
    State state = State::Blanks;
    bool begun = false;  // a byte of the current value (or its blanks) was seen
    std::string value;
    size_t i = 0;
    while (i < text.size() && values.size() < maxValues) {
        const char c = text[i];
        const bool separator = c == ',' || c == '\r' || c == '\n';
        if (state == State::Blanks) {
            if (c == ' ' || c == '\t' || c == '"') {
                if (c == '"') state = State::Quoted;
                begun = true;
                ++i;
                continue;
            }
            state = State::Plain;
        }
        if (state == State::Quoted) {
            if (c == '"') {
                state = State::AfterQuote;
            } else {
                value += c;
            }
            ++i;
            continue;
        }
        if (separator) {
            values.push_back(value);
            value.clear();
            state = State::Blanks;
            begun = false;
            ++i;
            if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
            continue;
        }
        if (state == State::Plain) value += c;
        begun = true;
        ++i;
    }
    if (i >= text.size() && values.size() < maxValues && (state != State::Blanks || begun)) {
        values.push_back(value);
    }
    return values;
}

// Every value is a piece of text, and the pieces follow one another.
void checkValuesInOrder(std::string_view text, const std::vector<std::string>& values) {
    size_t cursor = 0;
    size_t total = 0;
    for (const std::string& value : values) {
        size_t at = text.find(value, cursor);
        CHECK(at != std::string_view::npos);
        cursor = at + value.size();
        total += value.size();
    }
    CHECK(total <= text.size());
}

void checkRoundTrip(const fbx::Settings& loaded, const std::string& configPath) {
    const std::string line = fbx::formatConfigLine(loaded, configPath);
    CHECK(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);

    const std::vector<std::string> values = fbx::readConfigValues(line);
    CHECK(values.size() == 24);
    const auto fields = fieldsOf(loaded);
    for (size_t i = 0; i < fields.size(); ++i) CHECK(values[i] == withoutQuotes(*fields[i]));
    CHECK(values[21] == withoutQuotes(configPath));
    CHECK(values[22].empty());
    CHECK(values[23] == std::to_string(loaded.sendingEdit));
    // Nothing but the line end follows the 24th value.
    CHECK(fbx::readConfigValues(line, 25).size() == 24);

    fbx::Settings again;
    CHECK(fbx::parseConfig(line, again));
    CHECK(again == withoutQuotes(loaded));
    CHECK(fbx::formatConfigLine(again, configPath) == line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const std::vector<std::string> values = fbx::readConfigValues(text);
    CHECK(values.size() <= 24);
    CHECK(values == modelValues(text, 24));
    CHECK(text.empty() == values.empty());
    checkValuesInOrder(text, values);

    const std::vector<std::string> more = fbx::readConfigValues(text, 25);
    CHECK(more.size() <= 25);
    CHECK(values.size() == std::min<size_t>(more.size(), 24));
    for (size_t i = 0; i < values.size(); ++i) CHECK(values[i] == more[i]);
    CHECK(fbx::readConfigValues(text, 0).empty());

    for (const std::string& value : values) checkSendingEdit(value);
    if (size <= 64) checkSendingEdit(text);

    // A record that already holds something: a load must replace fields 0..20.
    fbx::Settings settings;
    settings.lastFilePath = "previous";
    settings.sendingEdit = 7;
    const bool loaded = fbx::parseConfig(text, settings);

    std::int16_t number = 0;
    const bool complete = values.size() == 24;
    CHECK(loaded == (complete && fbx::parseSendingEdit(values[23], number)));
    if (complete) {
        const auto fields = fieldsOf(settings);
        for (size_t i = 0; i < fields.size(); ++i) CHECK(*fields[i] == values[i]);
    }
    if (!loaded) return 0;
    CHECK(settings.sendingEdit == number);

    // Field 21 of the file as the path the record is saved under, and the
    // default path, as the program writes them.
    checkRoundTrip(settings, values[21]);
    checkRoundTrip(settings, "/home/cnc/ferobrixlan.cfg");
    return 0;
}
