#include "ShopConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include <ini.h>

#include "ConfigFile.h"
#include "LinePorts.h"
#include "RequestMatcher.h"

namespace fbx::shop {

namespace fs = std::filesystem;

namespace {

constexpr const char* kServiceSection = "service";

struct Entry {
    std::string section;
    std::string key;  // lower case
    std::string value;
};

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Values are taken as written; one pair of enclosing double quotes is
// removed, so that a value may keep blanks at its ends.
std::string unquoted(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

int collect(void* user, const char* section, const char* name, const char* value) {
    static_cast<std::vector<Entry>*>(user)->push_back(
        {section, lower(name), unquoted(value ? value : "")});
    return 1;
}

// The section that holds the given 1-based line of text, as the reader
// sees section headers: a line whose first non-blank character is "[".
std::string sectionAtLine(std::string_view text, int line) {
    std::string section;
    int number = 0;
    size_t start = 0;
    while (start <= text.size() && ++number < line) {
        size_t end = text.find('\n', start);
        std::string_view row = text.substr(start, end == std::string_view::npos ? end : end - start);
        size_t first = row.find_first_not_of(" \t");
        if (first != std::string_view::npos && row[first] == '[') {
            size_t close = row.find(']', first);
            if (close != std::string_view::npos) section = row.substr(first + 1, close - first - 1);
        }
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return section;
}

std::string absolute(const std::string& path, const std::string& baseDir) {
    if (path.empty() || path[0] == '/') return fs::path(path).lexically_normal().string();
    return (fs::path(baseDir) / path).lexically_normal().string();
}

bool wholeNumber(const std::string& text, long minimum, long maximum, long& out) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    out = std::atol(text.c_str());
    return out >= minimum && out <= maximum;
}

bool seconds(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v < 0.5 || v > 3600) return false;
    out = v;
    return true;
}

// A machine's name becomes part of file names and of the state file.
bool plainMachineName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

// A processing string as the window program's dialog takes it: empty, or
// with exactly six brackets or none.
bool acceptableRule(const std::string& text) {
    if (text.empty()) return true;
    const auto brackets = std::count_if(text.begin(), text.end(),
                                        [](char c) { return c == '[' || c == ']'; });
    return brackets == 0 || brackets == 6;
}

class SectionReader {
public:
    SectionReader(ShopConfig& config, std::string section)
        : m_config(config), m_section(std::move(section)) {}

    void problem(const std::string& key, const std::string& message) {
        m_config.problems.push_back({m_section, key, message, 0});
        m_failed = true;
    }
    bool failed() const { return m_failed; }

private:
    ShopConfig& m_config;
    std::string m_section;
    bool m_failed = false;
};

void readMachine(const std::string& name, const std::vector<Entry>& entries,
                 const std::string& baseDir, ShopConfig& config,
                 std::map<std::string, std::string>& portOwners) {
    SectionReader reader(config, name);
    MachineConfig m;
    m.name = name;
    m.request = kDefaultRequest;
    if (!plainMachineName(name))
        reader.problem("", "a machine's name may hold only letters, digits, '-', '_' and '.' "
                           "(at most 64, not starting with '.')");
    std::set<std::string> seen;
    bool haveIncoming = false;
    for (const Entry& e : entries) {
        const std::string& v = e.value;
        if (!seen.insert(e.key).second) {
            reader.problem(e.key, "given twice");
            continue;
        }
        long number = 0;
        if (e.key == "port") {
            if (std::string why = linePortProblem(v); !why.empty()) reader.problem(e.key, why);
            m.port = v;
        } else if (e.key == "baud") {
            static const std::set<long> rates{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
            if (wholeNumber(v, 1, 1000000, number) && rates.count(number))
                m.baud = static_cast<int>(number);
            else
                reader.problem(e.key, "'" + v + "' is not one of 300, 600, 1200, 2400, 4800, "
                                                "9600, 19200, 38400");
        } else if (e.key == "databits") {
            if (v == "7" || v == "8") m.dataBits = v[0] - '0';
            else reader.problem(e.key, "'" + v + "' is not 7 or 8");
        } else if (e.key == "parity") {
            const std::string p = lower(v);
            if (p == "n" || p == "e" || p == "o") m.parity = p[0];
            else reader.problem(e.key, "'" + v + "' is not n, e or o");
        } else if (e.key == "stopbits") {
            if (v == "1" || v == "2") m.stopBits = v[0] - '0';
            else reader.problem(e.key, "'" + v + "' is not 1 or 2");
        } else if (e.key == "handshake") {
            const std::string h = lower(v);
            if (h == "soft") m.handshake = "Soft";
            else if (h == "brix") m.handshake = "Brix";
            else reader.problem(e.key, "'" + v + "' is not Soft or Brix");
        } else if (e.key == "code") {
            const std::string c = lower(v);
            if (c == "iso") m.code = TapeCode::Iso;
            else if (c == "eia") m.code = TapeCode::Eia;
            else if (c == "auto") m.code = TapeCode::Auto;
            else reader.problem(e.key, "'" + v + "' is not ISO, EIA or auto");
        } else if (e.key.size() == 5 && e.key.rfind("rule", 0) == 0 && e.key[4] >= '1' &&
                   e.key[4] <= '7') {
            if (acceptableRule(v)) m.rules[static_cast<size_t>(e.key[4] - '1')] = v;
            else reader.problem(e.key, "a processing string has six brackets, [XX][N][xx xx ...]");
        } else if (e.key == "folder") {
            m.folder = absolute(v, baseDir);
        } else if (e.key == "incoming") {
            m.incoming = absolute(v, baseDir);
            haveIncoming = !v.empty();
        } else if (e.key == "receive") {
            const std::string r = lower(v);
            if (r == "marks") m.receive = ReceiveMode::Marks;
            else if (r == "continuous") m.receive = ReceiveMode::Continuous;
            else reader.problem(e.key, "'" + v + "' is not marks or continuous");
        } else if (e.key == "idle") {
            if (!seconds(v, m.idleSeconds))
                reader.problem(e.key, "'" + v + "' is not a number of seconds from 0.5 to 3600");
        } else if (e.key == "request") {
            if (std::string why = RequestMatcher::check(v); !why.empty())
                reader.problem(e.key, why);
            m.request = v;
        } else {
            reader.problem(e.key, "unknown key");
        }
    }
    if (m.port.empty() && !seen.count("port")) reader.problem("port", "missing: the machine's line");
    if (m.folder.empty()) {
        reader.problem("folder", "missing: where the machine's programs live");
    } else {
        std::error_code ec;
        if (!fs::is_directory(m.folder, ec)) reader.problem("folder", m.folder + " is not a directory");
    }
    if (!haveIncoming && !m.folder.empty()) m.incoming = (fs::path(m.folder) / "incoming").string();
    if (!m.incoming.empty()) {
        std::error_code ec;
        if (fs::exists(m.incoming, ec) && !fs::is_directory(m.incoming, ec))
            reader.problem("incoming", m.incoming + " is not a directory");
    }
    if (!reader.failed() && !m.port.empty()) {
        auto [owner, fresh] = portOwners.emplace(m.port, name);
        if (!fresh) reader.problem("port", m.port + " is the line of [" + owner->second + "] already");
    }
    if (reader.failed()) config.refused.push_back(name);
    else config.machines.push_back(std::move(m));
}

void readService(const std::vector<Entry>& entries, const std::string& baseDir,
                 ShopConfig& config) {
    SectionReader reader(config, kServiceSection);
    for (const Entry& e : entries) {
        if (e.key == "journal" && !e.value.empty()) config.service.journal = absolute(e.value, baseDir);
        else if (e.key == "state" && !e.value.empty()) config.service.stateFile = absolute(e.value, baseDir);
        else reader.problem(e.key, e.value.empty() ? "empty" : "unknown key");
    }
}

}  // namespace

bool MachineConfig::sameLine(const MachineConfig& o) const {
    return port == o.port && baud == o.baud && dataBits == o.dataBits && parity == o.parity &&
           stopBits == o.stopBits;
}

ShopConfig parseShopConfig(std::string_view text, const std::string& baseDir) {
    ShopConfig config;
    config.service.journal = absolute("journal.jsonl", baseDir);
    config.service.stateFile = absolute("ferobrixlan-server.state", baseDir);

    // Values are kept as written: no inline comments (a ";" may be part of a
    // pattern), no continuation lines, lines of any sensible length.
    ini_allow_multiline = false;
    ini_allow_inline_comments = false;
    ini_allow_no_value = false;
    ini_stop_on_first_error = false;
    ini_use_stack = false;
    ini_allow_realloc = true;
    ini_max_line = 65536;

    std::vector<Entry> entries;
    const std::string terminated(text.substr(0, text.find('\0')));
    const int bad = ini_parse_string(terminated.c_str(), collect, &entries);
    if (bad > 0) {
        const std::string section = sectionAtLine(terminated, bad);
        config.problems.push_back({section, "",
                                   "line " + std::to_string(bad) +
                                       " is neither [section] nor key = value",
                                   bad});
        if (!section.empty() && lower(section) != kServiceSection) config.refused.push_back(section);
    }

    // Sections in the order they first appear; a repeated header continues
    // its section.
    std::vector<std::string> order;
    std::map<std::string, std::vector<Entry>> sections;
    for (const Entry& e : entries) {
        if (e.section.empty()) {
            config.problems.push_back({"", e.key, "stands before the first [section]", 0});
            continue;
        }
        if (!sections.count(e.section)) order.push_back(e.section);
        sections[e.section].push_back(e);
    }
    std::map<std::string, std::string> portOwners;
    for (const std::string& name : order) {
        if (lower(name) == kServiceSection) {
            readService(sections[name], baseDir, config);
        } else if (std::find(config.refused.begin(), config.refused.end(), name) ==
                   config.refused.end()) {
            readMachine(name, sections[name], baseDir, config, portOwners);
        }
    }
    return config;
}

ShopConfig readShopConfig(const std::string& path) {
    std::string text;
    const std::string baseDir = fs::absolute(fs::path(path)).parent_path().string();
    Status st = readWholeFile(path, text);
    if (!st.isOk()) {
        ShopConfig config = parseShopConfig("", baseDir);
        config.readable = false;
        config.problems.push_back({"", "", st.message(), 0});
        return config;
    }
    return parseShopConfig(text, baseDir);
}

Settings engineSettings(const MachineConfig& m) {
    Settings s;
    s.port = "1";
    s.baudRate = std::to_string(m.baud);
    s.dataBits = std::to_string(m.dataBits);
    s.stopBits = std::to_string(m.stopBits);
    s.parity = std::string(1, m.parity);
    s.handshake = m.handshake;
    s.replaceString1 = m.rules[0];
    s.replaceString2 = m.rules[1];
    s.replaceString3 = m.rules[2];
    s.replaceString4 = m.rules[3];
    s.replaceString5 = m.rules[4];
    s.starterString = m.rules[5];
    s.terminationString = m.rules[6];
    // Nobody watches: no display of the data.
    s.sendView = "OFF";
    s.receiveView = "OFF";
    return s;
}

std::string describe(const ConfigProblem& p) {
    std::string where;
    if (!p.section.empty()) where = "[" + p.section + "]";
    if (!p.key.empty()) where += (where.empty() ? "" : " ") + p.key;
    return where.empty() ? p.message : where + ": " + p.message;
}

}  // namespace fbx::shop
