#include "PortMap.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>

#include "DeviceName.h"

namespace fbx {

namespace {

constexpr int kHighestPort = 9999;

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string inDirectory(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The problems already reported, by file and content: a file is reported
// again only when it changes.
struct Registry {
    std::mutex mutex;
    std::set<std::pair<std::string, std::string>> reported;
    PortMapReporter reporter = [](const std::string& problem) {
        std::fprintf(stderr, "%s\n", problem.c_str());
    };
};

Registry& registry() {
    static Registry r;
    return r;
}

PortMap loadAndReport(const std::string& startDir) {
    const std::string path = inDirectory(startDir, kPortMapFileName);
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    PortMap map = parsePortMap(text, path, startDir);
    if (map.problems.empty()) return map;

    PortMapReporter reporter;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!r.reported.emplace(path, text).second) return map;
        reporter = r.reporter;
    }
    if (reporter) {
        for (const std::string& problem : map.problems) reporter(problem);
    }
    return map;
}

}  // namespace

PortMap parsePortMap(std::string_view text, const std::string& fileName,
                     const std::string& startDir) {
    PortMap map;
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = trimmed(line);
        if (line.empty()) continue;

        auto damaged = [&](const std::string& why) {
            map.problems.push_back(fileName + ", line " + std::to_string(lineNumber) + ": " + why +
                                   "; the line is ignored");
        };
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            damaged("\"" + std::string(line) + "\" is not N=DEVICE");
            continue;
        }
        const std::string_view number = trimmed(line.substr(0, equals));
        const std::string_view device = trimmed(line.substr(equals + 1));
        int port = 0;
        bool isNumber = !number.empty() && number.size() <= 4;
        for (char c : number) {
            if (c < '0' || c > '9')
                isNumber = false;
            else
                port = port * 10 + (c - '0');
        }
        if (!isNumber || port < 1 || port > kHighestPort) {
            damaged("\"" + std::string(number) + "\" is no port number (1 to " +
                    std::to_string(kHighestPort) + ")");
            continue;
        }
        const DeviceName name = parseDeviceName(device);
        if (name.kind == DeviceKind::Invalid) {
            damaged("port " + std::to_string(port) + ": " + name.why);
            continue;
        }
        if (map.devices.count(port)) {
            damaged("port " + std::to_string(port) + " is mapped on an earlier line already");
            continue;
        }
        std::string value(device);
        if (name.kind == DeviceKind::Tty && value.front() != '/')
            value = inDirectory(startDir, value);
        map.devices[port] = value;
    }
    return map;
}

std::string mappedDevice(int port, const std::string& startDir) {
    if (port < 1) return {};
    const std::string variable = "FEROBRIXLAN_PORT" + std::to_string(port);
    if (const char* value = std::getenv(variable.c_str()); value && *value) return value;
    const PortMap map = loadAndReport(startDir);
    if (auto it = map.devices.find(port); it != map.devices.end()) return it->second;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string portDevicePath(int port) {
    return mappedDevice(port, ".");
}

void checkPortMap(const std::string& startDir) {
    loadAndReport(startDir);
}

PortMapReporter setPortMapReporter(PortMapReporter reporter) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::swap(r.reporter, reporter);
    return reporter;
}

}  // namespace fbx
