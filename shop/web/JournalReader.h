#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace fbx::shop::web {

// Which journal records a page shows: every given field must match (machine,
// direction and outcome exactly; program as a part of the file's name, in any
// case). Empty fields match everything.
struct JournalFilter {
    std::string machine, direction, outcome, program;
    bool matches(const nlohmann::json& record) const;
    // False when the line's text cannot hold a match: no need to read it.
    bool mayMatch(std::string_view line) const;
};

struct JournalPage {
    std::vector<nlohmann::json> records;  // newest first
    // Where the next, older page begins (pass it as before), or -1 when the
    // journal's beginning was reached.
    std::int64_t before = -1;
};

// Up to limit records that match, the newest first, from the records that
// end before the byte offset before (-1: the end of the journal). The file
// is read from its end in blocks, so that the first page of a journal of a
// million lines costs what it costs for a short one; at most maxScan bytes
// are read per page (a rare filter then gives a short page with a before to
// go on from). Lines that are no JSON object (a torn last line) are passed
// over. A journal that cannot be read gives an empty page.
JournalPage readJournalPage(const std::string& path, const JournalFilter& filter,
                            std::int64_t before, std::size_t limit, std::int64_t maxScan = 8 << 20);

}  // namespace fbx::shop::web
