#include "Statistics.h"

namespace fbx {

std::string formatHms(std::int64_t t) {
    if (t < 0) t = 0;
    return std::to_string(t / 60 / 60) + " : " + std::to_string((t / 60) % 60) + " : " +
           std::to_string(t % 60);
}

std::int64_t remainingSeconds(std::int64_t total, std::int64_t position, std::int64_t elapsed) {
    if (elapsed <= 0) return 0;
    std::int64_t rate = position / elapsed;
    if (rate <= 0) return 0;
    return (total - position) / rate;
}

std::string lineStateText(LineState state, std::int64_t seconds) {
    const std::string during = " for " + std::to_string(seconds) + " s";
    switch (state) {
        case LineState::Free: return "line free";
        case LineState::HeldByMachine: return "held by the machine (DC3)" + during;
        case LineState::WaitingForDsr: return "waiting for DSR" + during;
        case LineState::WaitingForDc1: return "waiting for DC1" + during;
        case LineState::Idle: break;
    }
    return "line idle";
}

}  // namespace fbx
