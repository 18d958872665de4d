#include "StateFile.h"

#include <cstdio>
#include <sstream>
#include <unistd.h>

#include "ConfigFile.h"

namespace fbx::shop {

namespace {
constexpr const char* kHeader = "ferobrixlan-server state";
// Older than this, the state is not the service's present one.
constexpr std::time_t kStaleSeconds = 5;

std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
}
}  // namespace

Status writeStateFile(const std::string& path, const StateReport& report) {
    std::string text = std::string(kHeader) + "\npid " + std::to_string(report.pid) +
                       "\nwritten " + std::to_string(report.written) + "\n";
    for (const std::string& note : report.notes) text += "note " + oneLine(note) + "\n";
    for (const MachineState& m : report.machines)
        text += oneLine(m.name) + "\t" + oneLine(m.port) + "\t" + oneLine(m.state) + "\n";
    const std::string temporary = path + ".new";
    Status st = writeWholeFile(temporary, text);
    if (!st.isOk()) return st;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        Status failed = Status::fileError(describeErrno(path, errno));
        unlink(temporary.c_str());
        return failed;
    }
    return Status::ok();
}

Status readStateFile(const std::string& path, StateReport& report) {
    std::string text;
    Status st = readWholeFile(path, text);
    if (!st.isOk()) return st;
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        return Status::fileError(path + ": not a state file of ferobrixlan-server");
    report = StateReport{};
    while (std::getline(in, line)) {
        if (line.rfind("pid ", 0) == 0) {
            report.pid = std::atol(line.c_str() + 4);
        } else if (line.rfind("written ", 0) == 0) {
            report.written = static_cast<std::time_t>(std::atoll(line.c_str() + 8));
        } else if (line.rfind("note ", 0) == 0) {
            report.notes.push_back(line.substr(5));
        } else {
            MachineState m;
            const size_t a = line.find('\t');
            const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
            if (b == std::string::npos) continue;
            m.name = line.substr(0, a);
            m.port = line.substr(a + 1, b - a - 1);
            m.state = line.substr(b + 1);
            report.machines.push_back(m);
        }
    }
    return Status::ok();
}

std::string formatStatus(const StateReport& report, std::time_t now, bool alive) {
    char when[32];
    std::tm local{};
    localtime_r(&report.written, &local);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::string out;
    if (!alive)
        out = "ferobrixlan-server is not running; its last state, of " + std::string(when) + ":\n";
    else if (now - report.written > kStaleSeconds)
        out = "ferobrixlan-server (pid " + std::to_string(report.pid) +
              ") has not written its state since " + when + ":\n";
    else
        out = "ferobrixlan-server (pid " + std::to_string(report.pid) + "), " + when + ":\n";
    for (const std::string& note : report.notes) out += "  ! " + note + "\n";
    size_t width = 0;
    for (const MachineState& m : report.machines) width = std::max(width, m.name.size());
    for (const MachineState& m : report.machines) {
        out += "  " + m.name + std::string(width - m.name.size(), ' ') + "  " + m.state;
        if (!m.port.empty()) out += "  (" + m.port + ")";
        out += "\n";
    }
    if (report.machines.empty()) out += "  no machines\n";
    return out;
}

}  // namespace fbx::shop
