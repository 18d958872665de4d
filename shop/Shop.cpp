#include "Shop.h"

#include <algorithm>
#include <poll.h>

namespace fbx::shop {

Shop::Shop(Clock& clock, Journal& journal, LinePortFactory makePort)
    : m_clock(clock), m_journal(journal), m_makePort(std::move(makePort)) {}

Shop::~Shop() = default;

void Shop::add(const MachineConfig& config) {
    Running r;
    r.host = std::make_unique<MachineHost>(config, m_clock, m_journal, m_makePort);
    r.host->setQueue(m_queue);
    m_running.push_back(std::move(r));
}

void Shop::apply(const ShopConfig& config) {
    for (Running& r : m_running) {
        const MachineConfig& current = r.host->config();
        auto wanted = std::find_if(config.machines.begin(), config.machines.end(),
                                   [&](const MachineConfig& m) { return m.name == current.name; });
        if (wanted != config.machines.end() && *wanted == current && !r.host->retiring()) continue;
        r.host->retire();
        r.due = true;
        if (wanted != config.machines.end()) r.successor = *wanted;
        else r.successor.reset();
    }
    for (const MachineConfig& m : config.machines) {
        auto running = std::find_if(m_running.begin(), m_running.end(), [&](const Running& r) {
            return r.host->config().name == m.name;
        });
        if (running == m_running.end()) add(m);
    }
    m_refused.clear();
    for (const std::string& name : config.refused) {
        std::string why;
        for (const ConfigProblem& p : config.problems) {
            if (p.section == name && p.kind == ConfigProblem::Kind::Error) {
                why = describe(p);
                break;
            }
        }
        m_refused.push_back({name, "", "not started: " + why});
    }
}

void Shop::terminate() {
    m_terminating = true;
    for (Running& r : m_running) {
        r.host->terminate();
        r.successor.reset();
        r.due = true;
    }
}

bool Shop::stopped() const {
    return m_terminating && std::all_of(m_running.begin(), m_running.end(),
                                        [](const Running& r) { return r.host->done(); });
}

void Shop::replaceDone() {
    for (auto it = m_running.begin(); it != m_running.end();) {
        if (!it->host->done() || m_terminating) {
            ++it;
            continue;
        }
        if (!it->successor) {
            it = m_running.erase(it);
            continue;
        }
        std::unique_ptr<LineKeeper> line;
        if (it->successor->sameLine(it->host->config())) line = it->host->releaseLine();
        // The old host goes first: its line must be free for a new one.
        it->host.reset();
        if (line)
            it->host = std::make_unique<MachineHost>(*it->successor, m_clock, m_journal,
                                                     std::move(line));
        else
            it->host = std::make_unique<MachineHost>(*it->successor, m_clock, m_journal, m_makePort);
        it->host->setQueue(m_queue);
        it->successor.reset();
        it->wake = Wake{};
        it->due = true;
        ++it;
    }
}

short Shop::runOnce(int extraFd, int maxWaitMs) {
    std::int64_t now = m_clock.nowMs();
    for (Running& r : m_running) {
        if (r.due || (r.wake.atMs >= 0 && now >= r.wake.atMs)) {
            r.due = false;
            r.wake = r.host->done() ? Wake{} : r.host->service();
        }
    }
    replaceDone();

    std::vector<pollfd> fds;
    std::vector<Running*> owners;
    if (extraFd >= 0) {
        fds.push_back({extraFd, POLLIN, 0});
        owners.push_back(nullptr);
    }
    now = m_clock.nowMs();
    std::int64_t timeout = maxWaitMs;
    for (Running& r : m_running) {
        if (r.due) timeout = 0;
        if (r.wake.atMs >= 0) timeout = std::min(timeout, std::max<std::int64_t>(0, r.wake.atMs - now));
        if (r.wake.fd >= 0) {
            fds.push_back({r.wake.fd, POLLIN, 0});
            owners.push_back(&r);
        }
    }
    int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(0, timeout)));
    short extraEvents = 0;
    for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        if (owners[i]) owners[i]->due = true;
        else extraEvents = fds[i].revents;
    }
    return extraEvents;
}

std::string Shop::stateOf(const Running& r) const {
    std::string state = r.host->stateText();
    if (r.successor && !r.host->done()) state += " (restarts with new settings after this)";
    return state;
}

std::vector<MachineState> Shop::states() const {
    std::vector<MachineState> states;
    for (const Running& r : m_running)
        states.push_back({r.host->config().name, r.host->config().port, stateOf(r)});
    states.insert(states.end(), m_refused.begin(), m_refused.end());
    return states;
}

std::vector<MachineSnapshot> Shop::machines() const {
    std::vector<MachineSnapshot> machines;
    for (const Running& r : m_running) {
        MachineSnapshot m;
        m.config = r.host->config();
        m.state = stateOf(r);
        r.host->progress(m.done, m.total);
        machines.push_back(std::move(m));
    }
    for (const MachineState& refused : m_refused) {
        MachineSnapshot m;
        m.config.name = refused.name;
        m.config.port = refused.port;
        m.started = false;
        m.state = refused.state;
        machines.push_back(std::move(m));
    }
    return machines;
}

void Shop::setQueue(SendQueue* queue) {
    m_queue = queue;
    for (Running& r : m_running) r.host->setQueue(queue);
}

void Shop::queueChanged(const std::string& machine) {
    for (Running& r : m_running) {
        if (r.host->config().name == machine) r.due = true;
    }
}

}  // namespace fbx::shop
