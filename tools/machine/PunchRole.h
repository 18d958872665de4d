#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MachineLine.h"
#include "MachineOptions.h"
#include "Summary.h"

namespace fbx::machine {

// The bytes a machine punches for a stored program: `leader` NUL bytes (blank
// tape), then the program. In ISO code the program goes out as stored. In EIA
// code every character goes through the EIA table, except that CR is dropped
// and LF becomes the end-of-block code 0x80: EIA has no CR or LF, and the
// receiving side turns 0x80 back into LF.
std::vector<std::uint8_t> PunchBytes(const std::string& program, bool eia, long leader);

// Plays a controller punching a program to the PC: see --help. Fills the
// summary and returns the exit code.
int RunPunch(const MachineOptions& options, MachineLine& line, Narrator& say, RunSummary& summary);

}  // namespace fbx::machine
