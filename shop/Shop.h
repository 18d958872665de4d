#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "Clock.h"
#include "Journal.h"
#include "LinePorts.h"
#include "MachineHost.h"
#include "SendQueue.h"
#include "ShopAccess.h"
#include "ShopConfig.h"
#include "StateFile.h"

namespace fbx::shop {

// Every machine of the shop, served from one thread by one poll over their
// lines' descriptors and their timers. It shows itself to the web side as
// a ShopAccess.
class Shop : public ShopAccess {
public:
    Shop(Clock& clock, Journal& journal, LinePortFactory makePort);
    ~Shop();

    // Runs the machines of config. New machines start; machines that are
    // gone or changed finish the transfer they are in and then stop, the
    // changed ones starting again with their new settings (on the line they
    // had, with nothing it holds lost, when the line itself is unchanged);
    // unchanged machines go on untouched. Refused sections are shown as not
    // started.
    void apply(const ShopConfig& config);

    // Ends every transfer by the quit path; machines stop as theirs end.
    void terminate();
    // After terminate(): every machine has stopped.
    bool stopped() const;

    // Services the machines that are due, then waits until a line or a
    // timer needs one again, extraFd is ready, or maxWaitMs has passed.
    // Returns extraFd's poll events (0 when it was not ready).
    short runOnce(int extraFd, int maxWaitMs);

    // One line per machine for the state file, running ones first.
    std::vector<MachineState> states() const;
    // The same with each machine's settings and progress, for the web side.
    std::vector<MachineSnapshot> machines() const override;

    // The queue of sends every machine takes from (null: none).
    void setQueue(SendQueue* queue);
    // The machine looks at its queue at its next turn.
    void queueChanged(const std::string& machine) override;
    std::size_t runningCount() const { return m_running.size(); }

private:
    struct Running {
        std::unique_ptr<MachineHost> host;
        Wake wake;
        bool due = true;
        std::optional<MachineConfig> successor;  // starts once host is done
    };

    void add(const MachineConfig& config);
    void replaceDone();
    std::string stateOf(const Running& r) const;

    Clock& m_clock;
    Journal& m_journal;
    LinePortFactory m_makePort;
    std::vector<Running> m_running;
    std::vector<MachineState> m_refused;
    bool m_terminating = false;
    SendQueue* m_queue = nullptr;
};

}  // namespace fbx::shop
