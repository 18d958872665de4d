#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace fbx::shop {

// One line of the journal: a transfer, or an event of a line or of the
// configuration.
struct JournalRecord {
    std::time_t time = 0;
    std::string machine;
    std::string direction;  // receive, request, send, line, config, service
    std::string file;       // the file stored or sent, or the name asked for
    std::int64_t bytes = 0;       // bytes on the line
    std::uint32_t crc32 = 0;      // CRC-32 of those bytes
    std::string outcome;          // stored, partial, answered, refused, sent, lost, ...
    double seconds = 0;           // from the first to the last byte
    std::string detail;           // the reason, for the operator; may be empty
};

// The record as one line of JSON (no line end). Bytes of text fields that
// are not valid UTF-8 are written as the characters of the same code
// (ISO 8859-1), control bytes as \u escapes, so that any name from the line
// gives valid JSON.
std::string formatJournalLine(const JournalRecord& record);

// The journal file: each record appended as one line in one write, the file
// opened and closed each time, so that it may be rotated at any moment.
class Journal {
public:
    explicit Journal(std::string path = {}) : m_path(std::move(path)) {}
    void setPath(std::string path) { m_path = std::move(path); }
    const std::string& path() const { return m_path; }

    // Appends the record. A failure is returned and also kept for lastFailure.
    Status append(const JournalRecord& record);

    // Every record appended since the last call (for tests and for the
    // service's standard error).
    std::vector<JournalRecord> takeRecent();

private:
    std::string m_path;
    std::vector<JournalRecord> m_recent;
};

}  // namespace fbx::shop
