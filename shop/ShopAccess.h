#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ShopConfig.h"

namespace fbx::shop {

// One machine as the board shows it.
struct MachineSnapshot {
    MachineConfig config;  // for a section that is not started: name and port only
    bool started = true;
    std::string state;  // as --status shows it: "listening", "receiving 1200 bytes", ...
    // The transfer in progress: bytes received (total -1) or sent of total;
    // both -1 when there is none.
    std::int64_t done = -1, total = -1;
};

// What the web side sees of the running shop and how it nudges it. The
// shop gives it; it is used on the shop's thread only.
class ShopAccess {
public:
    virtual ~ShopAccess() = default;
    virtual std::vector<MachineSnapshot> machines() const = 0;
    // The machine's queue changed: its host should look at it soon.
    virtual void queueChanged(const std::string& machine) = 0;
};

}  // namespace fbx::shop
