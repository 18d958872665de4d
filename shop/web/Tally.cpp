#include "Tally.h"

#include "JournalReader.h"

namespace fbx::shop::web {

namespace {

int localDay(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

bool isTransfer(const JournalRecord& r) {
    return r.direction == "receive" || r.direction == "send" || r.direction == "request";
}

// A label value of the text format: backslash, quote and line end escaped.
std::string label(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string stateKind(const std::string& state) {
    for (const char* kind : {"listening", "receiving", "sending"}) {
        if (state.rfind(kind, 0) == 0) return kind;
    }
    if (state.rfind("waiting", 0) == 0) return "waiting";
    if (state.rfind("held", 0) == 0) return "held";
    if (state.rfind("line", 0) == 0) return "lost";
    return "stopped";
}

JournalRecord recordFromJson(const nlohmann::json& line) {
    JournalRecord r;
    auto text = [&](const char* name) {
        auto it = line.find(name);
        return it != line.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    std::tm utc{};
    const std::string time = text("time");
    if (strptime(time.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc)) r.time = timegm(&utc);
    r.machine = text("machine");
    r.direction = text("direction");
    r.file = text("file");
    r.outcome = text("outcome");
    r.detail = text("detail");
    if (auto it = line.find("bytes"); it != line.end() && it->is_number_integer())
        r.bytes = it->get<std::int64_t>();
    if (auto it = line.find("seconds"); it != line.end() && it->is_number())
        r.seconds = it->get<double>();
    return r;
}

void TransferTally::note(const JournalRecord& r) {
    if (!isTransfer(r)) return;
    // A request that is answered counts as the send that answers it.
    if (r.direction == "request" && r.outcome == "found") return;
    PerDay& day = m_days[r.machine];
    const int today = localDay(r.time);
    if (day.day != today) day = PerDay{today, {}};
    if (r.direction == "receive" && r.outcome == "stored")
        ++day.counts.received;
    else if (r.direction == "send" && r.outcome == "sent")
        ++day.counts.sent;
    else
        ++day.counts.failed;
    m_last[r.machine] = r;
}

void TransferTally::count(const JournalRecord& r) {
    note(r);
    if (r.direction == "line" && r.outcome == "lost") ++m_linesLost[r.machine];
    if (!isTransfer(r)) return;
    ++m_transfers[{r.machine, r.direction, r.outcome}];
    m_bytes[{r.machine, r.direction}] += r.bytes;
}

void TransferTally::seed(const std::string& journalPath, std::time_t now) {
    const int today = localDay(now);
    JournalPage page = readJournalPage(journalPath, {}, -1, 100000, 16 << 20);
    for (auto it = page.records.rbegin(); it != page.records.rend(); ++it) {
        const JournalRecord r = recordFromJson(*it);
        if (localDay(r.time) == today) note(r);
    }
}

TransferTally::Day TransferTally::today(const std::string& machine, std::time_t now) const {
    auto it = m_days.find(machine);
    return it != m_days.end() && it->second.day == localDay(now) ? it->second.counts : Day{};
}

const JournalRecord* TransferTally::last(const std::string& machine) const {
    auto it = m_last.find(machine);
    return it == m_last.end() ? nullptr : &it->second;
}

std::string TransferTally::metrics(const std::vector<MachineSnapshot>& machines,
                                   const QueueStore& queue, std::size_t clients) const {
    std::string out =
        "# HELP ferobrixlan_transfers_total Transfers since the service started, by outcome.\n"
        "# TYPE ferobrixlan_transfers_total counter\n";
    for (const auto& [key, n] : m_transfers)
        out += "ferobrixlan_transfers_total{machine=\"" + label(std::get<0>(key)) +
               "\",direction=\"" + label(std::get<1>(key)) + "\",outcome=\"" +
               label(std::get<2>(key)) + "\"} " + std::to_string(n) + "\n";
    out +=
        "# HELP ferobrixlan_bytes_total Bytes on the lines in transfers since the service "
        "started.\n"
        "# TYPE ferobrixlan_bytes_total counter\n";
    for (const auto& [key, n] : m_bytes)
        out += "ferobrixlan_bytes_total{machine=\"" + label(key.first) + "\",direction=\"" +
               label(key.second) + "\"} " + std::to_string(n) + "\n";
    out +=
        "# HELP ferobrixlan_lines_lost_total Lines lost since the service started.\n"
        "# TYPE ferobrixlan_lines_lost_total counter\n";
    for (const MachineSnapshot& m : machines) {
        auto it = m_linesLost.find(m.config.name);
        out += "ferobrixlan_lines_lost_total{machine=\"" + label(m.config.name) + "\"} " +
               std::to_string(it == m_linesLost.end() ? 0 : it->second) + "\n";
    }
    out +=
        "# HELP ferobrixlan_machine_state What each machine is doing (1 for its state).\n"
        "# TYPE ferobrixlan_machine_state gauge\n";
    for (const MachineSnapshot& m : machines)
        out += "ferobrixlan_machine_state{machine=\"" + label(m.config.name) + "\",state=\"" +
               stateKind(m.state) + "\"} 1\n";
    out +=
        "# HELP ferobrixlan_queue_length Sends waiting in each machine's queue.\n"
        "# TYPE ferobrixlan_queue_length gauge\n";
    for (const MachineSnapshot& m : machines)
        out += "ferobrixlan_queue_length{machine=\"" + label(m.config.name) + "\"} " +
               std::to_string(queue.length(m.config.name)) + "\n";
    out +=
        "# HELP ferobrixlan_web_clients Connections of web clients.\n"
        "# TYPE ferobrixlan_web_clients gauge\n"
        "ferobrixlan_web_clients " +
        std::to_string(clients) + "\n";
    return out;
}

}  // namespace fbx::shop::web
