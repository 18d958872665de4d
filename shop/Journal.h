#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace fbx::shop {

// A file that holds (a part of) a program, as it is on the disk.
struct FilePart {
    std::string file;
    std::int64_t bytes = 0;
    std::uint32_t crc32 = 0;
};

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
    // The file stored (file_bytes, file_crc32: what is on the disk, which
    // differs from the line's bytes in EIA); -1: no file was stored.
    std::int64_t fileBytes = -1;
    std::uint32_t fileCrc32 = 0;
    // A program that could not be stored whole: every file holding a part of
    // it, in order.
    std::vector<FilePart> parts;
};

// A time as the journal writes it: "2025-03-14T07:30:05Z" (UTC).
std::string utcTime(std::time_t when);

// The record as one line of JSON (no line end). Bytes of text fields that
// are not valid UTF-8 are written as the characters of the same code
// (ISO 8859-1), control bytes as \u escapes, so that any name from the line
// gives valid JSON.
std::string formatJournalLine(const JournalRecord& record);

// The journal file: each record appended as one line in one write and
// flushed to the disk, the file opened and closed each time, so that it may
// be rotated at any moment. A write that fails part-way is taken back, so a
// line is never torn; the record is kept in memory, in order, and written
// before any later one at the next append or retry.
class Journal {
public:
    explicit Journal(std::string path = {}) : m_path(std::move(path)) {}
    void setPath(std::string path) { m_path = std::move(path); }
    const std::string& path() const { return m_path; }

    // Appends the record, or keeps it when it cannot be written now.
    Status append(const JournalRecord& record);
    // Writes the records kept; ok when none waits any more.
    Status retry();
    // Why records wait to be written, or empty when none does.
    std::string failure() const;

    // Ends a last line that a crash or a full disk left without its line
    // end, so that the next record starts a line of its own. repaired tells
    // whether there was one.
    Status endTornLine(bool& repaired);

    // Every record appended since the last call (for tests and for the
    // service's standard error).
    std::vector<JournalRecord> takeRecent();

    // Records kept at most while the journal cannot be written; older ones
    // are then counted, not kept.
    static constexpr std::size_t kMaxWaiting = 10000;

private:
    Status writeWaiting();

    std::string m_path;
    std::vector<JournalRecord> m_recent;
    std::deque<std::string> m_waiting;  // lines not written yet
    std::string m_failure;
    std::int64_t m_dropped = 0;
};

}  // namespace fbx::shop
