// ferobrixlan-server: every machine of a shop from one unattended process.

#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "QueueStore.h"
#include "ServiceLock.h"
#include "Shop.h"
#include "ShopConfig.h"
#include "StateFile.h"
#include "Token.h"
#include "WebService.h"

using namespace fbx::shop;

namespace {

const char* kUsage =
    "usage: ferobrixlan-server [--config PATH]            run the shop\n"
    "       ferobrixlan-server [--config PATH] --status   what each machine is doing\n"
    "       ferobrixlan-server [--config PATH] --check    read the configuration and say\n"
    "                                                     what is wrong with it\n"
    "       ferobrixlan-server --make-token PATH          write a new token for the web\n"
    "                                                     side to PATH (mode 0600)\n"
    "       ferobrixlan-server --help                     this text\n"
    "\n"
    "Listens on every machine's line of the configuration (default shop.ini in the\n"
    "current directory), stores every program a machine punches in its `incoming`\n"
    "folder, and answers a machine that asks for a program with a request comment\n"
    "such as (LOAD O1234). One JSON line per transfer goes to the journal; the\n"
    "state file, which --status reads, is rewritten once a second.\n"
    "SIGHUP rereads the configuration (a file with errors is not taken: the\n"
    "running configuration stays); SIGTERM stores what was read, ends every\n"
    "transfer (receptions are kept as .partial) and exits 0. One service runs\n"
    "per state file; a second one exits 1.\n"
    "With a [web] section in the configuration, the service also serves a web\n"
    "page and a JSON API (by default on 127.0.0.1:8180) that show every machine,\n"
    "the journal and the programs, and queue programs for a machine's next Read.\n";

constexpr std::int64_t kStateEveryMs = 1000;
// The quit path closes a transfer window one second after it begins.
constexpr std::int64_t kStopWithinMs = 10000;

const char* kindText(ConfigProblem::Kind kind) {
    switch (kind) {
        case ConfigProblem::Kind::Error:
            return "";
        case ConfigProblem::Kind::Unusable:
            return "cannot work: ";
        case ConfigProblem::Kind::Warning:
            return "warning: ";
    }
    return "";
}

void report(const ShopConfig& config) {
    for (const ConfigProblem& p : config.problems) {
        const bool machine =
            !p.section.empty() && p.section != "service" && p.section != web::kWebSection;
        std::fprintf(
            stderr, "ferobrixlan-server: %s%s%s\n", kindText(p.kind), describe(p).c_str(),
            machine && p.kind == ConfigProblem::Kind::Error ? " (machine not started)" : "");
    }
}

void journalProblems(Journal& journal, const ShopConfig& config) {
    for (const ConfigProblem& p : config.problems) {
        JournalRecord r;
        r.time = std::time(nullptr);
        r.machine = p.section;
        r.direction = "config";
        r.outcome = p.kind == ConfigProblem::Kind::Error      ? "refused"
                    : p.kind == ConfigProblem::Kind::Unusable ? "cannot work"
                                                              : "warning";
        r.file = p.key;
        r.detail = describe(p);
        journal.append(r);
    }
}

void journalService(Journal& journal, const std::string& outcome, const std::string& file,
                    const std::string& detail = {}) {
    JournalRecord r;
    r.time = std::time(nullptr);
    r.direction = "service";
    r.outcome = outcome;
    r.file = file;
    r.detail = detail;
    journal.append(r);
}

void printRecent(Journal& journal, web::WebService* web = nullptr) {
    for (const JournalRecord& r : journal.takeRecent()) {
        std::fprintf(stderr, "%s\n", formatJournalLine(r).c_str());
        if (web) web->journaled(r);
    }
}

int makeToken(const std::string& path) {
    if (fbx::Status st = web::makeTokenFile(path); !st.isOk()) {
        std::fprintf(stderr, "ferobrixlan-server: no token written: %s\n", st.message().c_str());
        return 1;
    }
    std::fprintf(stderr, "ferobrixlan-server: a new token is in %s (readable by you alone)\n",
                 path.c_str());
    return 0;
}

// The loop waits on the shop's lines and on one more descriptor: an epoll
// set of the signals and the web side.
class LoopEvents {
public:
    explicit LoopEvents(int signalFd) : m_fd(epoll_create1(EPOLL_CLOEXEC)) { add(signalFd); }
    ~LoopEvents() { close(m_fd); }
    int fd() const { return m_fd; }
    // The web side's descriptor changes when it starts, restarts or stops.
    void watchWeb(int webFd) {
        if (webFd == m_webFd) return;
        if (m_webFd >= 0) epoll_ctl(m_fd, EPOLL_CTL_DEL, m_webFd, nullptr);
        m_webFd = webFd;
        if (webFd >= 0) add(webFd);
    }

private:
    void add(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(m_fd, EPOLL_CTL_ADD, fd, &event);
    }
    int m_fd;
    int m_webFd = -1;
};

int status(const std::string& configPath) {
    const ShopConfig config = readShopConfig(configPath);
    StateReport state;
    fbx::Status st = readStateFile(config.service.stateFile, state);
    if (!st.isOk()) {
        std::fprintf(stderr, "ferobrixlan-server: no state to show: %s\n", st.message().c_str());
        return 1;
    }
    const bool alive = state.pid > 0 && (kill(static_cast<pid_t>(state.pid), 0) == 0 || errno == EPERM);
    std::fputs(formatStatus(state, std::time(nullptr), alive).c_str(), stdout);
    return alive ? 0 : 3;
}

int check(const std::string& configPath) {
    ShopConfig config = readShopConfig(configPath);
    if (config.readable) checkShopEnvironment(config);
    report(config);
    bool fit = config.readable;
    for (const ConfigProblem& p : config.problems)
        fit = fit && p.kind == ConfigProblem::Kind::Warning;
    for (const MachineConfig& m : config.machines) {
        bool warned = false, unfit = false;
        for (const ConfigProblem& p : config.problems) {
            if (p.section != m.name) continue;
            (p.kind == ConfigProblem::Kind::Warning ? warned : unfit) = true;
        }
        std::printf("[%s] %s: %s\n", m.name.c_str(), m.port.c_str(),
                    unfit    ? "starts, but cannot work as it should (see above)"
                    : warned ? "ready to start (see the warning above)"
                             : "ready to start");
    }
    return fit ? 0 : 1;
}

int run(const std::string& configPath) {
    ShopConfig config = readShopConfig(configPath);
    if (!config.readable) {
        report(config);
        return 1;
    }
    checkShopEnvironment(config);
    // One service per state file (and so per configuration), before any
    // line is opened.
    ServiceLock lock;
    if (fbx::Status st = lock.acquire(config.service.stateFile + ".lock"); !st.isOk()) {
        std::fprintf(stderr, "ferobrixlan-server: not started: %s\n", st.message().c_str());
        return 1;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("ferobrixlan-server: signalfd");
        return 1;
    }

    fbx::SteadyClock clock;
    Journal journal(config.service.journal);
    std::string statePath = config.service.stateFile;
    bool torn = false;
    if (journal.endTornLine(torn).isOk() && torn)
        journalService(journal, "journal repaired", journal.path(),
                       "its last line was cut short (a crash or a full disk) and is ended here");
    report(config);
    journalProblems(journal, config);
    Shop shop(clock, journal, makeLinePort);
    // Queued sends are kept beside the state file and survive a restart.
    web::QueueStore queue(config.service.stateFile + ".queue");
    if (fbx::Status st = queue.load(); !st.isOk())
        journalService(journal, "queue not read", queue.path(), st.message());
    shop.setQueue(&queue);
    shop.apply(config);
    web::WebService web(shop, queue, journal, clock);
    web.apply(config.web);
    LoopEvents events(signalFd);
    events.watchWeb(web.fd());
    std::fprintf(stderr, "ferobrixlan-server: %zu machines from %s, journal %s\n",
                 config.machines.size(), configPath.c_str(), journal.path().c_str());

    std::string reloadRefused;  // why the last reload was not taken
    std::string journalFailure, stateFailure;
    std::int64_t nextState = clock.nowMs();
    std::int64_t stopBy = -1;
    auto writeState = [&] {
        StateReport state;
        state.pid = getpid();
        state.written = std::time(nullptr);
        state.machines = shop.states();
        if (!journalFailure.empty()) state.notes.push_back(journalFailure);
        if (!reloadRefused.empty())
            state.notes.push_back("the changed configuration was not taken: " + reloadRefused);
        fbx::Status st = writeStateFile(statePath, state);
        if (st.isOk() != stateFailure.empty() || st.message() != stateFailure) {
            if (!st.isOk()) std::fprintf(stderr, "ferobrixlan-server: %s\n", st.message().c_str());
            stateFailure = st.message();
        }
    };
    for (;;) {
        std::int64_t now = clock.nowMs();
        if (now >= nextState) {
            journal.retry();
            // A journal that cannot be written is told once, and again when
            // it can be written once more.
            if (const std::string failure = journal.failure(); failure != journalFailure) {
                std::fprintf(stderr, "ferobrixlan-server: %s\n",
                             failure.empty() ? "the journal is written again" : failure.c_str());
                journalFailure = failure;
            }
            writeState();
            nextState = now + kStateEveryMs;
        }
        if (stopBy >= 0 && (shop.stopped() || now >= stopBy)) break;

        std::int64_t wait = nextState - now;
        if (const std::int64_t webWait = web.timeoutMs(); webWait >= 0)
            wait = std::min(wait, webWait);
        const short ready =
            shop.runOnce(events.fd(), static_cast<int>(std::max<std::int64_t>(0, wait)));
        web.run();
        printRecent(journal, &web);
        if (!(ready & POLLIN)) continue;
        signalfd_siginfo info;
        while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGHUP && stopBy < 0) {
                ShopConfig fresh = readShopConfig(configPath);
                if (fresh.readable) checkShopEnvironment(fresh);
                report(fresh);
                // Only a file that reads whole, without errors, is taken.
                if (std::string why = reloadProblem(fresh); !why.empty()) {
                    reloadRefused = why;
                    std::fprintf(stderr,
                                 "ferobrixlan-server: keeping the running configuration: %s\n",
                                 why.c_str());
                    journalService(journal, "reload refused", configPath,
                                   why + "; the running configuration stays");
                    nextState = 0;
                    continue;
                }
                reloadRefused.clear();
                journal.setPath(fresh.service.journal);
                statePath = fresh.service.stateFile;
                journalProblems(journal, fresh);
                journalService(journal, "reloaded", configPath);
                shop.apply(fresh);
                web.apply(fresh.web);
                events.watchWeb(web.fd());
                nextState = 0;
            } else if (info.ssi_signo != SIGHUP && stopBy < 0) {
                shop.terminate();
                stopBy = clock.nowMs() + kStopWithinMs;
            }
        }
    }
    printRecent(journal, &web);
    writeState();
    journalService(journal, "stopped", "");
    printRecent(journal);
    close(signalFd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath = "shop.ini";
    bool wantStatus = false, wantCheck = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            configPath = argv[++i];
        } else if (arg.rfind("--config=", 0) == 0) {
            configPath = arg.substr(9);
        } else if (arg == "--status") {
            wantStatus = true;
        } else if (arg == "--check") {
            wantCheck = true;
        } else if (arg == "--make-token" && i + 1 < argc) {
            return makeToken(argv[++i]);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "ferobrixlan-server: unknown argument '%s'\n\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    if (wantStatus) return status(configPath);
    if (wantCheck) return check(configPath);
    return run(configPath);
}
