#include "Summary.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <utility>

namespace fbx::machine {

namespace {

void vprint(const char* format, va_list args) {
    std::string line = "ferobrixlan-machine: ";
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    line += text;
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

}  // namespace

void Narrator::say(const char* format, ...) {
    if (m_quiet) return;
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
}

void Narrator::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
}

void RunSummary::noteByteMoved(double now) {
    if (firstByteAt < 0) firstByteAt = now;
    lastByteAt = now;
}

void PrintSummary(const RunSummary& s, std::FILE* out) {
    std::fprintf(out, "role=%s\n", s.role.c_str());
    std::fprintf(out, "end=%s\n", s.end.c_str());
    if (s.role == "receive") {
        std::fprintf(out, "bytes-received=%lld\n", s.bytesReceived);
        std::fprintf(out, "dc3-sent=%lld\n", s.dc3Sent);
        std::fprintf(out, "dc1-sent=%lld\n", s.dc1Sent);
        std::string overrun, read, queued;
        long long most = 0;
        for (std::size_t i = 0; i < s.readAfterDc3.size(); ++i) {
            const long long n = std::max(0LL, s.readAfterDc3[i] - s.queuedAtDc3[i]);
            for (auto [list, value] : {std::pair{&overrun, n}, std::pair{&read, s.readAfterDc3[i]},
                                       std::pair{&queued, s.queuedAtDc3[i]}})
                *list += (list->empty() ? "" : ",") + std::to_string(value);
            most = std::max(most, n);
        }
        std::fprintf(out, "overrun=%s\n", overrun.c_str());
        std::fprintf(out, "overrun-max=%lld\n", most);
        std::fprintf(out, "read-after-dc3=%s\n", read.c_str());
        std::fprintf(out, "queued-at-dc3=%s\n", queued.c_str());
        std::fprintf(out, "overflow=%lld\n", s.overflow);
        std::fprintf(out, "stalled=%s\n", s.stalled ? "yes" : "no");
        std::fprintf(out, "dwell-blocks=%lld\n", s.dwellBlocks);
        std::fprintf(out, "stored=%s\n", s.stored.empty() ? "-" : s.stored.c_str());
        std::fputs(
            "# overrun: bytes the PC put on the line after each DC3 went out, up to its DC1;\n"
            "# read-after-dc3 adds what already waited on the line then (queued-at-dc3)\n",
            out);
    } else {
        std::fprintf(out, "bytes-sent=%lld\n", s.bytesSent);
        std::fprintf(out, "bytes-to-send=%lld\n", s.bytesToSend);
        std::fprintf(out, "complete=%s\n", s.complete ? "yes" : "no");
        std::fprintf(out, "stalled=%s\n", s.stalled ? "yes" : "no");
        std::fprintf(out, "dc3-received=%lld\n", s.dc3Received);
        std::fprintf(out, "dc1-received=%lld\n", s.dc1Received);
        std::fprintf(out, "other-received=%lld\n", s.otherReceived);
    }
    std::fprintf(out, "crc32=%08X\n", s.crc.value());
    double span = s.firstByteAt < 0 ? 0.0 : s.lastByteAt - s.firstByteAt;
    std::fprintf(out, "transfer-seconds=%.3f\n", span);
    std::fprintf(out, "exit=%d\n", s.exitCode);
    std::fflush(out);
}

}  // namespace fbx::machine
