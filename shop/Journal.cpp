#include "Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace fbx::shop {

namespace {

// The length of the UTF-8 sequence starting at text[i], or 0 when none does.
size_t utf8Length(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

void appendString(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += static_cast<char>(b);
        } else if (b < 0x20 || b == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
        } else if (b < 0x80) {
            out += static_cast<char>(b);
        } else if (size_t n = utf8Length(text, i); n > 0) {
            out.append(text.substr(i, n));
            i += n;
            continue;
        } else {
            // A byte of 8-bit text: the character of the same code.
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
        ++i;
    }
    out += '"';
}

}  // namespace

std::string utcTime(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string formatJournalLine(const JournalRecord& r) {
    std::string out = "{\"time\":";
    appendString(out, utcTime(r.time));
    out += ",\"machine\":";
    appendString(out, r.machine);
    out += ",\"direction\":";
    appendString(out, r.direction);
    out += ",\"file\":";
    appendString(out, r.file);
    out += ",\"bytes\":" + std::to_string(r.bytes);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", r.crc32);
    out += ",\"crc32\":";
    appendString(out, crc);
    out += ",\"outcome\":";
    appendString(out, r.outcome);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", std::isfinite(r.seconds) ? r.seconds : 0.0);
    out += ",\"seconds\":";
    out += seconds;
    if (!r.detail.empty()) {
        out += ",\"detail\":";
        appendString(out, r.detail);
    }
    if (r.fileBytes >= 0) {
        std::snprintf(crc, sizeof crc, "%08x", r.fileCrc32);
        out += ",\"file_bytes\":" + std::to_string(r.fileBytes) + ",\"file_crc32\":";
        appendString(out, crc);
    }
    if (!r.parts.empty()) {
        out += ",\"parts\":[";
        for (size_t i = 0; i < r.parts.size(); ++i) {
            std::snprintf(crc, sizeof crc, "%08x", r.parts[i].crc32);
            out += i ? ",{\"file\":" : "{\"file\":";
            appendString(out, r.parts[i].file);
            out += ",\"bytes\":" + std::to_string(r.parts[i].bytes) + ",\"crc32\":";
            appendString(out, crc);
            out += '}';
        }
        out += ']';
    }
    out += '}';
    return out;
}

Status Journal::append(const JournalRecord& record) {
    m_recent.push_back(record);
    if (m_path.empty()) return Status::ok();
    if (m_waiting.size() >= kMaxWaiting) {
        m_waiting.pop_front();
        ++m_dropped;
    }
    m_waiting.push_back(formatJournalLine(record) + "\n");
    return writeWaiting();
}

Status Journal::retry() {
    return m_waiting.empty() ? Status::ok() : writeWaiting();
}

std::string Journal::failure() const {
    if (m_waiting.empty() && m_dropped == 0) return {};
    std::string text = std::to_string(m_waiting.size()) + " journal records wait to be written";
    if (m_dropped > 0) text += ", " + std::to_string(m_dropped) + " more could not be kept";
    return text + ": " + m_failure;
}

Status Journal::writeWaiting() {
    if (m_path.empty()) {
        m_waiting.clear();
        return Status::ok();
    }
    const int fd = ::open(m_path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    int err = fd < 0 ? errno : 0;
    while (err == 0 && !m_waiting.empty()) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            err = errno;
            break;
        }
        // A line left without its end (a crash, a truncation that failed)
        // is ended first, so that this record is a line of its own.
        char last = '\n';
        if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1) last = '\n';
        const std::string line = (last == '\n' ? "" : "\n") + m_waiting.front();
        ssize_t n;
        do {
            n = ::write(fd, line.data(), line.size());
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(line.size()) && ::fdatasync(fd) == 0) {
            m_waiting.pop_front();
            continue;
        }
        err = n < 0 || n == static_cast<ssize_t>(line.size()) ? errno : ENOSPC;
        // Nothing of a line that did not reach the disk whole stays: the
        // record is written again, whole, later. Should even the truncation
        // fail, the next write ends the torn line first.
        if (n > 0 && ::ftruncate(fd, st.st_size) != 0 && err == 0) err = errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
        m_failure = describeErrno(m_path, err);
        return Status::fileError(failure());
    }
    if (m_dropped > 0) {
        JournalRecord r;
        r.time = std::time(nullptr);
        r.direction = "service";
        r.outcome = "journal records lost";
        r.bytes = m_dropped;
        r.detail = std::to_string(m_dropped) + " records could not be kept while " + m_failure;
        m_dropped = 0;
        return append(r);
    }
    m_failure.clear();
    return Status::ok();
}

Status Journal::endTornLine(bool& repaired) {
    repaired = false;
    if (m_path.empty()) return Status::ok();
    const int fd = ::open(m_path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Status::ok() : Status::fileError(describeErrno(m_path, errno));
    struct stat st {};
    char last = '\n';
    int err = 0;
    if (::fstat(fd, &st) != 0 || (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1))
        err = errno;
    if (err == 0 && last != '\n') {
        if (::write(fd, "\n", 1) == 1 && ::fdatasync(fd) == 0)
            repaired = true;
        else
            err = errno;
    }
    ::close(fd);
    return err ? Status::fileError(describeErrno(m_path, err)) : Status::ok();
}

std::vector<JournalRecord> Journal::takeRecent() {
    std::vector<JournalRecord> recent;
    recent.swap(m_recent);
    return recent;
}

}  // namespace fbx::shop
