#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SendQueue.h"
#include "Status.h"

namespace fbx::shop::web {

// The queues of every machine, kept in one file (in the service's state
// folder) that is replaced whole at each change, so that queued sends
// survive a restart of the service. A send that was taken or on its way when
// the service stopped waits again after the restart.
class QueueStore : public SendQueue {
public:
    explicit QueueStore(std::string path);
    // Reads the file; a missing file is an empty queue.
    Status load();
    const std::string& path() const { return m_path; }

    // The sends of one machine (all machines when empty), in queue order.
    std::vector<QueuedSend> list(const std::string& machine = {}) const;
    std::size_t length(const std::string& machine) const;

    // Appends a send of program to machine's queue. Fails only when the file
    // cannot be written (the send is then not queued).
    Status add(const std::string& machine, const std::string& program, QueuedSend& added);

    enum class Withdrawn { Done, Unknown, AlreadySending };
    Withdrawn withdraw(const std::string& machine, std::uint64_t id);

    // Called with the machine's name at every change, from the caller's thread.
    void onChange(std::function<void(const std::string&)> changed) {
        m_changed = std::move(changed);
    }

    std::optional<QueuedSend> take(const std::string& machine) override;
    bool stillQueued(std::uint64_t id) const override;
    void sending(std::uint64_t id) override;
    void putBack(std::uint64_t id) override;
    void finished(std::uint64_t id) override;

    // The last failure to write the file, empty when the last write went well.
    const std::string& writeProblem() const { return m_writeProblem; }

private:
    QueuedSend* find(std::uint64_t id);
    Status save();
    void changed(const std::string& machine);

    std::string m_path;
    std::vector<QueuedSend> m_sends;
    std::uint64_t m_nextId = 1;
    std::string m_writeProblem;
    std::function<void(const std::string&)> m_changed;
};

}  // namespace fbx::shop::web
