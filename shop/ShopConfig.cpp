#include "ShopConfig.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include <fcntl.h>
#include <ini.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ConfigFile.h"
#include "DeviceName.h"
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
    int line = 0;
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

std::string trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
}

// The lines of the text as the INI reader sees them: section headers, keys
// (lower case) and lines that are neither, each with its 1-based number.
struct Row {
    enum class Kind { Section, Key, Broken } kind;
    std::string section;  // the section the row is in (Section: its name)
    std::string key;
    int line;
};

std::vector<Row> scanRows(std::string_view text) {
    std::vector<Row> rows;
    std::string section;
    int number = 0;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string row = trimmed(text.substr(start, end - start));
        ++number;
        start = end + 1;
        if (row.empty() || row[0] == ';' || row[0] == '#') continue;
        if (row[0] == '[') {
            const size_t close = row.find(']');
            if (close != std::string::npos) {
                section = trimmed(std::string_view(row).substr(1, close - 1));
                rows.push_back({Row::Kind::Section, section, "", number});
                continue;
            }
        }
        const size_t split = row.find_first_of("=:");
        if (split == std::string::npos || row[0] == '[')
            rows.push_back({Row::Kind::Broken, section, "", number});
        else
            rows.push_back({Row::Kind::Key, section, lower(trimmed(row.substr(0, split))), number});
    }
    return rows;
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
    SectionReader(ShopConfig& config, std::string section, int line)
        : m_config(config), m_section(std::move(section)), m_line(line) {}

    // A problem told with the given line, or the key's, or the header's.
    void problem(const std::string& key, const std::string& message, int line = 0) {
        if (line == 0) {
            auto at = m_config.lines.find(m_section + "\n" + key);
            line = at != m_config.lines.end() ? at->second : m_line;
        }
        m_config.problems.push_back({m_section, key, message, line});
        m_failed = true;
    }
    bool failed() const { return m_failed; }

private:
    ShopConfig& m_config;
    std::string m_section;
    int m_line;
    bool m_failed = false;
};

void readMachine(const std::string& name, const std::vector<Entry>& entries,
                 const std::string& baseDir, ShopConfig& config,
                 std::map<std::string, std::string>& portOwners, int headerLine, bool broken) {
    SectionReader reader(config, name, headerLine);
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
            reader.problem(e.key, "given twice", e.line);
            continue;
        }
        long number = 0;
        if (e.key == "port") {
            if (std::string why = linePortProblem(v); !why.empty())
                reader.problem(e.key, why, e.line);
            m.port = v;
        } else if (e.key == "baud") {
            static const std::set<long> rates{300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
            if (wholeNumber(v, 1, 1000000, number) && rates.count(number))
                m.baud = static_cast<int>(number);
            else
                reader.problem(e.key,
                               "'" + v +
                                   "' is not one of 300, 600, 1200, 2400, 4800, "
                                   "9600, 19200, 38400",
                               e.line);
        } else if (e.key == "databits") {
            if (v == "7" || v == "8") m.dataBits = v[0] - '0';
            else
                reader.problem(e.key, "'" + v + "' is not 7 or 8", e.line);
        } else if (e.key == "parity") {
            const std::string p = lower(v);
            if (p == "n" || p == "e" || p == "o") m.parity = p[0];
            else
                reader.problem(e.key, "'" + v + "' is not n, e or o", e.line);
        } else if (e.key == "stopbits") {
            if (v == "1" || v == "2") m.stopBits = v[0] - '0';
            else
                reader.problem(e.key, "'" + v + "' is not 1 or 2", e.line);
        } else if (e.key == "handshake") {
            const std::string h = lower(v);
            if (h == "soft") m.handshake = "Soft";
            else if (h == "brix") m.handshake = "Brix";
            else
                reader.problem(e.key, "'" + v + "' is not Soft or Brix", e.line);
        } else if (e.key == "code") {
            const std::string c = lower(v);
            if (c == "iso") m.code = TapeCode::Iso;
            else if (c == "eia") m.code = TapeCode::Eia;
            else if (c == "auto") m.code = TapeCode::Auto;
            else
                reader.problem(e.key, "'" + v + "' is not ISO, EIA or auto", e.line);
        } else if (e.key.size() == 5 && e.key.rfind("rule", 0) == 0 && e.key[4] >= '1' &&
                   e.key[4] <= '7') {
            if (acceptableRule(v)) m.rules[static_cast<size_t>(e.key[4] - '1')] = v;
            else
                reader.problem(e.key, "a processing string has six brackets, [XX][N][xx xx ...]",
                               e.line);
        } else if (e.key == "folder") {
            m.folder = absolute(v, baseDir);
        } else if (e.key == "incoming") {
            m.incoming = absolute(v, baseDir);
            haveIncoming = !v.empty();
        } else if (e.key == "receive") {
            const std::string r = lower(v);
            if (r == "marks") m.receive = ReceiveMode::Marks;
            else if (r == "continuous") m.receive = ReceiveMode::Continuous;
            else
                reader.problem(e.key, "'" + v + "' is not marks or continuous", e.line);
        } else if (e.key == "idle") {
            if (!seconds(v, m.idleSeconds))
                reader.problem(e.key, "'" + v + "' is not a number of seconds from 0.5 to 3600",
                               e.line);
        } else if (e.key == "request") {
            if (std::string why = RequestMatcher::check(v); !why.empty())
                reader.problem(e.key, why, e.line);
            m.request = v;
        } else {
            reader.problem(e.key, "unknown key", e.line);
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
    if (reader.failed() || broken)
        config.refused.push_back(name);
    else config.machines.push_back(std::move(m));
}

void readService(const std::vector<Entry>& entries, const std::string& baseDir, ShopConfig& config,
                 int headerLine) {
    SectionReader reader(config, kServiceSection, headerLine);
    for (const Entry& e : entries) {
        if (e.key == "journal" && !e.value.empty()) config.service.journal = absolute(e.value, baseDir);
        else if (e.key == "state" && !e.value.empty()) config.service.stateFile = absolute(e.value, baseDir);
        else
            reader.problem(e.key, e.value.empty() ? "empty" : "unknown key", e.line);
    }
}

}  // namespace

bool MachineConfig::sameLine(const MachineConfig& o) const {
    return port == o.port && baud == o.baud && dataBits == o.dataBits && parity == o.parity &&
           stopBits == o.stopBits;
}

ShopConfig parseShopConfig(std::string_view text, const std::string& baseDir,
                           const std::string& stateDir) {
    ShopConfig config;
    const std::string stateBase = stateDir.empty() ? baseDir : stateDir;
    config.service.journal = absolute("journal.jsonl", stateBase);
    config.service.stateFile = absolute("ferobrixlan-server.state", stateBase);

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
    ini_parse_string(terminated.c_str(), collect, &entries);

    // Where each entry stands, every line that is neither a header nor a
    // key, and every header given twice.
    const std::vector<Row> rows = scanRows(terminated);
    std::map<std::string, int> headers;
    std::set<std::string> broken;
    for (const Row& row : rows) {
        if (row.kind == Row::Kind::Broken) {
            config.problems.push_back(
                {row.section, "",
                 "line " + std::to_string(row.line) + " is neither [section] nor key = value",
                 row.line});
            if (!row.section.empty() && lower(row.section) != kServiceSection)
                broken.insert(row.section);
        } else if (row.kind == Row::Kind::Section &&
                   !headers.emplace(row.section, row.line).second) {
            config.problems.push_back({row.section, "",
                                       "given twice, on line " +
                                           std::to_string(headers[row.section]) + " and line " +
                                           std::to_string(row.line),
                                       row.line});
            if (lower(row.section) != kServiceSection) broken.insert(row.section);
        }
    }
    size_t next = 0;
    for (Entry& e : entries) {
        for (size_t i = next; i < rows.size(); ++i) {
            if (rows[i].kind == Row::Kind::Key && rows[i].section == e.section &&
                rows[i].key == e.key) {
                e.line = rows[i].line;
                next = i + 1;
                config.lines.emplace(e.section + "\n" + e.key, e.line);
                break;
            }
        }
    }
    for (const auto& [name, line] : headers) config.lines.emplace(name + "\n", line);

    // Sections in the order they first appear.
    std::vector<std::string> order;
    std::map<std::string, std::vector<Entry>> sections;
    for (const Entry& e : entries) {
        if (e.section.empty()) {
            config.problems.push_back({"", e.key, "stands before the first [section]", e.line});
            continue;
        }
        if (!sections.count(e.section)) order.push_back(e.section);
        sections[e.section].push_back(e);
    }
    for (const auto& [name, line] : headers) {
        if (!sections.count(name)) order.push_back(name);
    }
    std::map<std::string, std::string> portOwners;
    for (const std::string& name : order) {
        if (lower(name) == kServiceSection) {
            readService(sections[name], baseDir, config, headers[name]);
        } else if (lower(name) == web::kWebSection) {
            std::vector<std::pair<std::string, std::string>> keys;
            for (const Entry& e : sections[name]) keys.emplace_back(e.key, e.value);
            const std::size_t first = config.problems.size();
            config.web = web::readWebSection(keys, baseDir, config.problems);
            for (std::size_t i = first; i < config.problems.size(); ++i) {
                ConfigProblem& p = config.problems[i];
                auto at = config.lines.find(name + "\n" + p.key);
                if (at == config.lines.end()) at = config.lines.find(name + "\n");
                if (at != config.lines.end()) p.line = at->second;
            }
        } else
            readMachine(name, sections[name], baseDir, config, portOwners, headers[name],
                        broken.count(name) > 0);
    }
    return config;
}

ShopConfig readShopConfig(const std::string& path) {
    std::string text;
    const std::string baseDir = fs::absolute(fs::path(path)).parent_path().string();
    // systemd's StateDirectory= (the first, when it names several).
    const char* state = std::getenv("STATE_DIRECTORY");
    std::string stateDir = state ? state : "";
    stateDir = stateDir.substr(0, stateDir.find(':'));
    Status st = readWholeFile(path, text);
    if (!st.isOk()) {
        ShopConfig config = parseShopConfig("", baseDir, stateDir);
        config.readable = false;
        config.problems.push_back({"", "", st.message(), 0});
        return config;
    }
    return parseShopConfig(text, baseDir, stateDir);
}

namespace {

// Whether this process may write in dir, or create it: the nearest folder
// that exists decides. Empty when it may; otherwise why not.
std::string notWritable(const fs::path& dir) {
    std::error_code ec;
    fs::path existing = dir;
    while (!existing.empty() && !fs::exists(existing, ec)) existing = existing.parent_path();
    if (existing.empty()) existing = "/";
    if (!fs::is_directory(existing, ec)) return existing.string() + " is not a directory";
    if (::faccessat(AT_FDCWD, existing.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return describeErrno(existing.string(), errno) + " (as user " +
               std::to_string(::geteuid()) + ")";
    return {};
}

std::string fileNotWritable(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec) && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return describeErrno(path, errno);
    return notWritable(fs::path(path).parent_path());
}

// "ADDRESS:PORT" of a device server's line, as the name resolves now;
// empty when it does not.
std::string resolvedEndpoint(const DeviceName& device) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(device.host.c_str(), std::to_string(device.tcpPort).c_str(), &hints, &found) !=
        0)
        return {};
    char host[NI_MAXHOST] = "", port[NI_MAXSERV] = "";
    getnameinfo(found->ai_addr, found->ai_addrlen, host, sizeof host, port, sizeof port,
                NI_NUMERICHOST | NI_NUMERICSERV);
    freeaddrinfo(found);
    return std::string(host) + ":" + port;
}

}  // namespace

void checkShopEnvironment(ShopConfig& config) {
    using Kind = ConfigProblem::Kind;
    auto add = [&](const std::string& section, const std::string& key, const std::string& message,
                   Kind kind) {
        config.problems.push_back({section, key, message, 0, kind});
    };
    if (std::string why = fileNotWritable(config.service.journal); !why.empty())
        add(kServiceSection, "journal", "the journal cannot be written: " + why, Kind::Unusable);
    if (std::string why = fileNotWritable(config.service.stateFile); !why.empty())
        add(kServiceSection, "state", "the state file cannot be written: " + why, Kind::Unusable);
    std::map<std::string, std::string> endpoints;  // resolved line -> machine
    std::vector<MachineConfig> fit;
    for (MachineConfig& m : config.machines) {
        if (std::string why = notWritable(m.incoming); !why.empty())
            add(m.name, "incoming", "received programs cannot be stored: " + why, Kind::Unusable);
        if (::faccessat(AT_FDCWD, m.folder.c_str(), R_OK | X_OK, AT_EACCESS) != 0)
            add(m.name, "folder", "programs cannot be read: " + describeErrno(m.folder, errno),
                Kind::Unusable);
        const DeviceName device = parseDeviceName(m.port);
        std::error_code ec;
        if (device.kind == DeviceKind::Tty && !fs::exists(m.port, ec))
            add(m.name, "port", m.port + " does not exist (yet)", Kind::Warning);
        if (device.isNetwork()) {
            const std::string endpoint = resolvedEndpoint(device);
            if (!endpoint.empty()) {
                auto [owner, fresh] = endpoints.emplace(endpoint, m.name);
                if (!fresh) {
                    add(m.name, "port",
                        m.port + " is the line of [" + owner->second + "] already (both are " +
                            endpoint + ")",
                        Kind::Error);
                    config.refused.push_back(m.name);
                    continue;
                }
            }
        }
        fit.push_back(m);
    }
    config.machines = std::move(fit);
    // Each is told with the line of its key, or of its section's header.
    for (ConfigProblem& p : config.problems) {
        if (p.line > 0) continue;
        auto at = config.lines.find(p.section + "\n" + p.key);
        if (at == config.lines.end()) at = config.lines.find(p.section + "\n");
        if (at != config.lines.end()) p.line = at->second;
    }
}

std::string reloadProblem(const ShopConfig& config) {
    if (!config.readable)
        return config.problems.empty() ? "unreadable" : describe(config.problems[0]);
    for (const ConfigProblem& p : config.problems) {
        if (p.kind == ConfigProblem::Kind::Error) return describe(p);
    }
    if (config.machines.empty()) return "it names no machine";
    return {};
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
    if (p.line > 0 && p.message.rfind("line ", 0) != 0)
        where += (where.empty() ? "line " : " (line ") + std::to_string(p.line) +
                 (where.empty() ? "" : ")");
    return where.empty() ? p.message : where + ": " + p.message;
}

}  // namespace fbx::shop
