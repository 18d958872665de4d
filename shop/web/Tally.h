#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "Journal.h"
#include "QueueStore.h"
#include "ShopAccess.h"

namespace fbx::shop::web {

// What the journal tells about each machine, kept as the records are
// written: the last transfer and today's counts for the board, and the
// counters since the service started for /metrics.
class TransferTally {
public:
    struct Day {
        int received = 0;  // programs stored whole
        int sent = 0;      // programs sent whole
        int failed = 0;    // every other outcome of a transfer
    };

    // A record the service has just written.
    void count(const JournalRecord& record);
    // Takes today's records (local time) from the end of the journal, for the
    // board after a restart; they are not counted for /metrics.
    void seed(const std::string& journalPath, std::time_t now);

    Day today(const std::string& machine, std::time_t now) const;
    // The machine's last transfer, or null.
    const JournalRecord* last(const std::string& machine) const;

    // The Prometheus text format: transfers by machine, direction and
    // outcome, bytes, lines lost, each machine's state and queue length.
    std::string metrics(const std::vector<MachineSnapshot>& machines, const QueueStore& queue,
                        std::size_t clients) const;

private:
    void note(const JournalRecord& record);

    struct PerDay {
        int day = 0;  // local yyyymmdd
        Day counts;
    };
    std::map<std::string, PerDay> m_days;
    std::map<std::string, JournalRecord> m_last;
    std::map<std::tuple<std::string, std::string, std::string>, std::int64_t> m_transfers;
    std::map<std::pair<std::string, std::string>, std::int64_t> m_bytes;
    std::map<std::string, std::int64_t> m_linesLost;
};

// What kind of state a state text tells, for the board's colours and the
// metrics: listening, receiving, sending, waiting (for DC1), held, lost,
// stopped.
std::string stateKind(const std::string& state);

// A journal line read back.
JournalRecord recordFromJson(const nlohmann::json& line);

}  // namespace fbx::shop::web
