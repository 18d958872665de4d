#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "Status.h"

namespace fbx::shop {

// What one machine is doing, as `--status` shows it: "listening",
// "receiving 1200 bytes", "sending 300 of 2048", "held by DC3 for 12 s",
// "line lost, retrying", "not started: ...".
struct MachineState {
    std::string name;
    std::string port;
    std::string state;
};

struct StateReport {
    long pid = 0;
    std::time_t written = 0;
    std::vector<MachineState> machines;
    // What the service itself has to say until it clears: a journal that
    // cannot be written, a reload that was refused.
    std::vector<std::string> notes;
};

// Replaces the state file at path in one step (written beside it, then
// renamed), so that a reader never sees half of it.
Status writeStateFile(const std::string& path, const StateReport& report);

// Reads a state file written by writeStateFile.
Status readStateFile(const std::string& path, StateReport& report);

// The text `--status` prints: one line per machine, and a first line that
// says whether the service is running (alive: its process exists) and how
// old the state is.
std::string formatStatus(const StateReport& report, std::time_t now, bool alive);

}  // namespace fbx::shop
