// ferobrixlan-server: every machine of a shop from one unattended process.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "Shop.h"
#include "ShopConfig.h"
#include "StateFile.h"

using namespace fbx::shop;

namespace {

const char* kUsage =
    "usage: ferobrixlan-server [--config PATH]            run the shop\n"
    "       ferobrixlan-server [--config PATH] --status   what each machine is doing\n"
    "       ferobrixlan-server [--config PATH] --check    read the configuration and say\n"
    "                                                     what is wrong with it\n"
    "       ferobrixlan-server --help                     this text\n"
    "\n"
    "Listens on every machine's line of the configuration (default shop.ini in the\n"
    "current directory), stores every program a machine punches in its `incoming`\n"
    "folder, and answers a machine that asks for a program with a request comment\n"
    "such as (LOAD O1234). One JSON line per transfer goes to the journal; the\n"
    "state file, which --status reads, is rewritten once a second.\n"
    "SIGHUP rereads the configuration; SIGTERM ends every transfer (receptions\n"
    "are kept as .partial) and exits 0.\n";

constexpr std::int64_t kStateEveryMs = 1000;
// The quit path closes a transfer window one second after it begins.
constexpr std::int64_t kStopWithinMs = 10000;

void report(const ShopConfig& config) {
    for (const ConfigProblem& p : config.problems)
        std::fprintf(stderr, "ferobrixlan-server: %s%s\n", describe(p).c_str(),
                     !p.section.empty() && p.section != "service" ? " (machine not started)" : "");
}

void journalProblems(Journal& journal, const ShopConfig& config) {
    for (const ConfigProblem& p : config.problems) {
        JournalRecord r;
        r.time = std::time(nullptr);
        r.machine = p.section;
        r.direction = "config";
        r.outcome = "refused";
        r.file = p.key;
        r.detail = describe(p);
        journal.append(r);
    }
}

void printRecent(Journal& journal) {
    for (const JournalRecord& r : journal.takeRecent())
        std::fprintf(stderr, "%s\n", formatJournalLine(r).c_str());
}

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
    const ShopConfig config = readShopConfig(configPath);
    report(config);
    for (const MachineConfig& m : config.machines)
        std::printf("[%s] %s: ready to start\n", m.name.c_str(), m.port.c_str());
    return config.readable && config.problems.empty() ? 0 : 1;
}

int run(const std::string& configPath) {
    ShopConfig config = readShopConfig(configPath);
    if (!config.readable) {
        report(config);
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
    report(config);
    journalProblems(journal, config);
    Shop shop(clock, journal, makeLinePort);
    shop.apply(config);
    std::fprintf(stderr, "ferobrixlan-server: %zu machines from %s, journal %s\n",
                 config.machines.size(), configPath.c_str(), journal.path().c_str());

    std::int64_t nextState = clock.nowMs();
    std::int64_t stopBy = -1;
    for (;;) {
        std::int64_t now = clock.nowMs();
        if (now >= nextState) {
            StateReport state;
            state.pid = getpid();
            state.written = std::time(nullptr);
            state.machines = shop.states();
            fbx::Status st = writeStateFile(statePath, state);
            if (!st.isOk()) std::fprintf(stderr, "ferobrixlan-server: %s\n", st.message().c_str());
            nextState = now + kStateEveryMs;
        }
        if (stopBy >= 0 && (shop.stopped() || now >= stopBy)) break;

        const short events = shop.runOnce(signalFd, static_cast<int>(nextState - now));
        printRecent(journal);
        if (!(events & POLLIN)) continue;
        signalfd_siginfo info;
        while (read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            if (info.ssi_signo == SIGHUP && stopBy < 0) {
                ShopConfig fresh = readShopConfig(configPath);
                report(fresh);
                if (!fresh.readable) {
                    std::fprintf(stderr, "ferobrixlan-server: keeping the running configuration\n");
                    continue;
                }
                journal.setPath(fresh.service.journal);
                statePath = fresh.service.stateFile;
                journalProblems(journal, fresh);
                JournalRecord r;
                r.time = std::time(nullptr);
                r.direction = "service";
                r.outcome = "reloaded";
                r.file = configPath;
                journal.append(r);
                shop.apply(fresh);
                nextState = 0;
            } else if (info.ssi_signo != SIGHUP && stopBy < 0) {
                shop.terminate();
                stopBy = clock.nowMs() + kStopWithinMs;
            }
        }
    }
    printRecent(journal);
    StateReport state;
    state.pid = getpid();
    state.written = std::time(nullptr);
    state.machines = shop.states();
    writeStateFile(statePath, state);
    JournalRecord r;
    r.time = std::time(nullptr);
    r.direction = "service";
    r.outcome = "stopped";
    journal.append(r);
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
