#pragma once

#include "Crc32.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fbx::machine {

// Exit codes of ferobrixlan-machine; scripts rely on them.
enum ExitCode : int {
    kExitDone = 0,         // the run ended as asked (PC closed the line, --idle, --stall-after)
    kExitUsage = 1,        // bad command line
    kExitError = 2,        // the pty, the link or a file could not be used
    kExitPulled = 3,       // --pull-after closed the line
    kExitInterrupted = 4,  // SIGINT, SIGTERM or SIGHUP
    kExitIncomplete = 5,   // punch: the PC closed the line (or --idle ran out) before the end
};

using fbx::Crc32;

// Running narration on stderr, one line per event, each line starting with
// "ferobrixlan-machine: ". Silent when quiet.
class Narrator {
public:
    explicit Narrator(bool quiet) : m_quiet(quiet) {}
    void say(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Always printed, quiet or not.
    static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

private:
    bool m_quiet;
};

// What one run did. Filled by the role that ran, printed at exit.
struct RunSummary {
    std::string role;  // "receive" or "punch"
    std::string end;   // pc-closed, idle, pulled, interrupted, error
    int exitCode = kExitDone;

    // Receive.
    long long bytesReceived = 0;
    long long dc3Sent = 0;
    long long dc1Sent = 0;
    // For each DC3: the bytes read after it up to its DC1, and of those the
    // ones that already waited on the line when it went out. Only the rest
    // is overrun: bytes the PC put on the line after the DC3 went out. The
    // ones waiting were on time; a machine descheduled by a busy processor
    // had not read them yet.
    std::vector<long long> readAfterDc3;
    std::vector<long long> queuedAtDc3;
    long long overflow = 0;          // DC3 rounds in which the buffer ran full
    long long dwellBlocks = 0;       // "G4X0.001" blocks among the bytes received
    bool stalled = false;
    std::string stored;  // the --out file, empty when none

    // Punch.
    long long bytesSent = 0;    // leader included
    long long bytesToSend = 0;  // leader and program
    long long dc3Received = 0;
    long long dc1Received = 0;
    long long otherReceived = 0;  // bytes from the PC other than DC1 and DC3
    bool complete = false;

    // Both: checksum of the bytes stored (receive) or put on the line (punch).
    Crc32 crc;
    double firstByteAt = -1;  // monotonic seconds of the first and last byte moved
    double lastByteAt = -1;

    void noteByteMoved(double now);
};

// Prints the summary as key=value lines (comments start with "#").
void PrintSummary(const RunSummary& summary, std::FILE* out);

}  // namespace fbx::machine
