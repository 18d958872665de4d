#pragma once

#include <cstdint>
#include <string>

#include "TransferView.h"

namespace fbx {

// Seconds as "hours : minutes : seconds" without leading zeros
// (125 gives "0 : 2 : 5").
std::string formatHms(std::int64_t seconds);

// The estimated remaining time: what is left divided by the whole-number
// rate so far; 0 when nothing can be estimated yet.
std::int64_t remainingSeconds(std::int64_t total, std::int64_t position, std::int64_t elapsed);

// The line indicator's text: "line free", "held by the machine (DC3) for
// N s", "waiting for DSR for N s", "waiting for DC1 for N s"; "line idle"
// when no send runs.
std::string lineStateText(LineState state, std::int64_t seconds);

}  // namespace fbx
