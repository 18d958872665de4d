// ferobrixlan-cli send / receive: the transfer engines driven from a terminal.

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <unistd.h>

#include "CliView.h"
#include "Commands.h"
#include "ConfigFile.h"
#include "DeviceSerialPort.h"
#include "ReceiveEngine.h"
#include "SendEngine.h"
#include "TransferTexts.h"

namespace fbx::cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int) { g_interrupted = 1; }

void catchSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// The operator's buttons, one command per line on standard input.
class Commands {
public:
    // Reads what is waiting (without blocking) and presses the buttons.
    void poll(TransferEngine& engine, int timeoutMs, int portFd) {
        pollfd fds[2];
        int count = 0;
        if (m_open) fds[count++] = {STDIN_FILENO, POLLIN, 0};
        if (portFd >= 0) fds[count++] = {portFd, POLLIN, 0};
        if (count == 0) {
            if (timeoutMs > 0) ::poll(nullptr, 0, timeoutMs);
            return;
        }
        if (::poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) return;
        if (!m_open || !(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) return;
        char buffer[256];
        ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_open = false;  // no more commands; not a quit
            return;
        }
        m_line.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = m_line.find('\n')) != std::string::npos) {
            std::string command = m_line.substr(0, end);
            m_line.erase(0, end + 1);
            while (!command.empty() && (command.back() == '\r' || command.back() == ' '))
                command.pop_back();
            press(engine, command);
        }
    }

private:
    static void press(TransferEngine& engine, const std::string& command) {
        if (command == "start") engine.startPressed();
        else if (command == "quit") engine.quitPressed();
        else if (command == "resend") engine.resendPressed();
        else if (!command.empty())
            std::fprintf(stderr, "unknown command '%s' (start, quit, resend)\n", command.c_str());
    }

    bool m_open = true;
    std::string m_line;
};

// Runs the engine until its window closes, or until a send has finished.
void drive(TransferEngine& engine, SerialPort& port, CliView& view, bool isSend) {
    Commands commands;
    bool abandoned = false;
    SteadyClock clock;
    std::int64_t lastLook = clock.nowMs();
    while (!engine.closed()) {
        if ((g_interrupted || view.unanswered()) && !abandoned) {
            abandoned = true;
            engine.abandon();
        }
        StepResult r = engine.step();
        if (isSend && engine.outcome() != Outcome::Running) {
            // "finish" or a lost port: the transfer is over; close the window.
            engine.closeRequested();
            break;
        }
        if (!r.progressed) {
            commands.poll(engine, r.waitMs, r.watchPort ? port.nativeHandle() : -1);
            lastLook = clock.nowMs();
        } else if (clock.nowMs() - lastLook >= 5) {
            commands.poll(engine, 0, -1);
            lastLook = clock.nowMs();
        }
    }
    view.flushStatistics(true);
}

int exitCode(Outcome outcome) {
    switch (outcome) {
        case Outcome::Finished:
        case Outcome::Saved: return 0;
        default: return 1;
    }
}

const char* outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Finished: return "finished";
        case Outcome::Saved: return "saved";
        case Outcome::Incomplete: return "incomplete";
        case Outcome::Stopped: return "stopped";
        case Outcome::OpenFailed: return "port could not be opened";
        case Outcome::PortLost: return "port lost";
        case Outcome::SaveFailed: return "received text could not be saved whole";
        case Outcome::SavedElsewhere: return "the target was removed or replaced; the text is in another file";
        case Outcome::NothingSent: return "nothing was sent: the program holds no text to send";
        case Outcome::Running: break;
    }
    return "ended";
}

bool parse(const char* name, Args& args, Loaded& loaded, std::string& file, bool& yes) {
    yes = takeFlag(args, "--yes");
    loaded = loadConfiguration(args);
    if (!loaded.ok) return false;
    if (args.size() != 1 || args[0].rfind("-", 0) == 0) {
        std::fprintf(stderr, "usage: ferobrixlan-cli %s FILE [--config PATH] [--yes]\n", name);
        return false;
    }
    file = args[0];
    return true;
}

// The last line: the outcome, matching the exit code; for a send, what
// really went out.
int finish(const char* name, TransferEngine& engine) {
    Outcome outcome = engine.outcome();
    std::string counts;
    if (auto* send = dynamic_cast<SendEngine*>(&engine); send && outcome != Outcome::OpenFailed)
        counts = " (sent " + std::to_string(send->sentCount()) + " of " +
                 std::to_string(send->totalLength()) + ")";
    std::fprintf(stderr, "ferobrixlan-cli %s: %s%s\n", name, outcomeText(outcome), counts.c_str());
    return exitCode(outcome);
}

}  // namespace

int runSend(const Args& given) {
    Args args = given;
    Loaded loaded;
    std::string path;
    bool yes = false;
    if (!parse("send", args, loaded, path, yes)) return 2;

    std::string fileText;
    Status read = readWholeFile(path, fileText);
    if (!read.isOk() || fileText.empty()) {
        std::fprintf(stderr, "ferobrixlan-cli send: %s\n",
                     read.isOk() ? (path + ": the file is empty").c_str() : read.message().c_str());
        return 1;
    }
    CliView view(yes, true);
    if (fileText.size() <= 2) {
        // The window would let the operator choose again; here the command ends.
        Message m{texts::kEmptyFile, texts::kSendDataError, Buttons::OkCancel, Icon::Stop, false, {}};
        view.ask(m);
        return 1;
    }
    catchSignals();
    SteadyClock clock;
    DeviceSerialPort port;
    SendEngine engine(port, clock, view, loaded.settings, loaded.codes);
    std::fprintf(stderr, "Send : %s (port %d: %s)\n", path.c_str(), loaded.codes.portNumber,
                 portDevicePath(loaded.codes.portNumber).c_str());
    if (engine.open(std::move(fileText))) {
        if (view.unanswered()) engine.abandon();
        else engine.startPressed();
        drive(engine, port, view, true);
    }
    return finish("send", engine);
}

int runReceive(const Args& given) {
    Args args = given;
    Loaded loaded;
    std::string path;
    bool yes = false;
    if (!parse("receive", args, loaded, path, yes)) return 2;

    CliView view(yes, false);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        Message m{std::string(texts::kRewrite) + "\r\n" + path, texts::kSaveAs, Buttons::OkCancel,
                  Icon::Question, false, {}};
        if (view.ask(m) != Answer::Ok) return 1;  // the file is left as it was
    }
    ReceivedFile target(path);
    Status prepared = target.prepare();
    if (!prepared.isOk()) {
        std::fprintf(stderr, "ferobrixlan-cli receive: %s\n", prepared.message().c_str());
        return 1;
    }
    catchSignals();
    SteadyClock clock;
    DeviceSerialPort port;
    ReceiveEngine engine(port, clock, view, loaded.settings, loaded.codes);
    std::fprintf(stderr, "Receive : %s (port %d: %s)\n", path.c_str(), loaded.codes.portNumber,
                 portDevicePath(loaded.codes.portNumber).c_str());
    if (engine.open(std::move(target))) {
        if (view.unanswered()) engine.abandon();
        drive(engine, port, view, false);
    }
    if (engine.outcome() == Outcome::SavedElsewhere)
        std::fprintf(stderr, "ferobrixlan-cli receive: the program is in %s\n",
                     engine.receivedPath().c_str());
    return finish("receive", engine);
}

}  // namespace fbx::cli
