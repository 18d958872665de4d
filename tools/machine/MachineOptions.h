#pragma once

#include <string>
#include <vector>

namespace fbx::machine {

enum class Role { None, Receive, Punch };

// The command line of ferobrixlan-machine. Sizes are bytes, times seconds
// unless the name says otherwise; 0 for a rate means no limit, -1 for a byte
// count means never.
struct MachineOptions {
    Role role = Role::None;
    std::string programFile;  // punch: the program the machine has stored
    std::string link;         // symbolic link to the PC's side; empty: print the path only

    long baud = 0;             // emulated line speed; 0: as fast as the pty moves bytes
    int bitsPerChar = 10;      // start + data + parity + stop bits of one character
    double wait = 1.0;         // operator's delay after the PC opens the line
    double idle = 0;           // end after this long without a byte; 0: never
    long long pullAfter = -1;  // close the line after this many bytes
    long long stallAfter = -1;
    bool quiet = false;
    bool help = false;

    // Receive.
    long buffer = 1024;  // the controller's input buffer
    long high = -1;      // DC3 at this fill; -1: three quarters of the buffer
    long low = -1;       // DC1 at this fill; -1: a quarter of the buffer
    long drain = 0;      // bytes per second the controller takes out; 0: at once
    bool startDc1 = false;
    std::string out;

    // Punch.
    struct NextProgram {
        std::string file;
        bool eia = false;
    };
    std::vector<NextProgram> nextPrograms;  // punched after programFile, in order
    double gap = 1.0;          // seconds between two programs
    bool thenReceive = false;  // after the last program, read one as receive does
    bool eia = false;
    long leader = 0;   // NUL bytes before the program
    long chunk = 0;    // bytes per burst; 0: one continuous stream
    long pauseMs = 0;  // pause between bursts

    double bytesPerSecond() const { return baud > 0 ? double(baud) / bitsPerChar : 0.0; }
};

// Parses argv. False with a one-line reason on a bad command line; the
// water marks are filled in from the buffer size when not given.
bool ParseMachineOptions(int argc, const char* const* argv, MachineOptions& options,
                         std::string& error);

// The --help text.
const char* MachineUsage();

}  // namespace fbx::machine
