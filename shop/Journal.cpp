#include "Journal.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

std::string utcTime(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

}  // namespace

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
    out += '}';
    return out;
}

Status Journal::append(const JournalRecord& record) {
    m_recent.push_back(record);
    if (m_path.empty()) return Status::ok();
    const std::string line = formatJournalLine(record) + "\n";
    int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Status::fileError(describeErrno(m_path, errno));
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size()))
        return Status::fileError(describeErrno(m_path, n < 0 ? err : EIO));
    return Status::ok();
}

std::vector<JournalRecord> Journal::takeRecent() {
    std::vector<JournalRecord> recent;
    recent.swap(m_recent);
    return recent;
}

}  // namespace fbx::shop
