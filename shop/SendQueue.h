#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace fbx::shop {

// A program put in a machine's queue, to be sent as "Data In/Out" sends it
// when the machine next gives DC1 (its operator pressed Read).
struct QueuedSend {
    enum class State { Waiting, Taken, Sending };
    std::uint64_t id = 0;
    std::string machine;
    std::string program;  // a file name in the machine's `folder`
    std::time_t queued = 0;
    State state = State::Waiting;
};

// The queues of the machines, as the machine hosts use them. A host takes
// its first waiting send when its line is free, waits for the machine's DC1
// while looking whether the send is still queued (it may be withdrawn), says
// when its first byte goes out, and then ends it: finished (it leaves the
// queue) or put back (nothing was sent: the machine punched a program
// instead, or the line was lost, so it waits again, first in line).
class SendQueue {
public:
    virtual ~SendQueue() = default;
    virtual std::optional<QueuedSend> take(const std::string& machine) = 0;
    virtual bool stillQueued(std::uint64_t id) const = 0;
    virtual void sending(std::uint64_t id) = 0;
    virtual void putBack(std::uint64_t id) = 0;
    virtual void finished(std::uint64_t id) = 0;
};

}  // namespace fbx::shop
