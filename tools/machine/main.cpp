#include <cstdio>
#include <string>

#include "MachineLine.h"
#include "MachineOptions.h"
#include "PunchRole.h"
#include "ReceiveRole.h"
#include "Summary.h"

using namespace fbx::machine;

int main(int argc, char** argv) {
    MachineOptions options;
    std::string error;
    if (!ParseMachineOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "ferobrixlan-machine: %s (see --help)\n", error.c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(MachineUsage(), stdout);
        return kExitDone;
    }

    InstallStopSignals();
    Narrator say(options.quiet);
    MachineLine line;
    if (!line.open(options.link, error)) {
        Narrator::error("%s", error.c_str());
        return kExitError;
    }
    // The PC's side on stdout, for scripts that start the machine without --link.
    std::printf("%s\n", line.slavePath().c_str());
    std::fflush(stdout);
    if (options.link.empty())
        say.say("line ready: the PC's side is %s", line.slavePath().c_str());
    else
        say.say("line ready: the PC's side is %s -> %s", options.link.c_str(),
                line.slavePath().c_str());

    RunSummary summary;
    summary.exitCode = options.role == Role::Receive ? RunReceive(options, line, say, summary)
                                                     : RunPunch(options, line, say, summary);
    if (options.role == Role::Punch && options.thenReceive && summary.exitCode == kExitDone &&
        summary.end == "punched") {
        // The punch's summary first, then the reading's, whose exit code counts.
        PrintSummary(summary, stderr);
        summary = RunSummary{};
        summary.exitCode = RunReceive(options, line, say, summary);
    }
    line.close();
    if (StopSignal()) say.say("stopped by signal %d", StopSignal());
    PrintSummary(summary, stderr);
    return summary.exitCode;
}
