// ferobrixlan-cli number FILE [--interval N] [--config PATH] [-o OUT]
//
// Writes N sequence numbers in front of the lines of a program, as the
// editor's "Made N" button does, for use in scripts. The numbered text goes to
// OUT (which may be FILE itself) or to standard output. A program that already
// has N words at the beginning of a line is refused with the editor's message
// and nothing is written.
//
// Exit codes: 0 numbered; 1 refused; 2 wrong arguments or a file error.

#include <cstdio>
#include <filesystem>
#include <string>

#include "Commands.h"
#include "ConfigFile.h"
#include "Numbering.h"

namespace fbx::cli {

namespace {

bool ParseInterval(const std::string& text, std::int64_t& interval) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    interval = std::stoll(text);
    return interval >= 1 && interval <= editor::kLastSequenceNumber;
}

}  // namespace

int runNumber(const Args& given) {
    Args args = given;
    std::string intervalText, outPath, configPath;
    bool haveInterval = takeOption(args, "--interval", intervalText);
    bool haveOut = takeOption(args, "-o", outPath);
    bool haveConfig = takeOption(args, "--config", configPath);
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        std::fputs("usage: ferobrixlan-cli number FILE [--interval N] [--config PATH] [-o OUT]\n",
                   stderr);
        return 2;
    }
    const std::string& inPath = args[0];

    std::int64_t interval = 1;
    if (haveInterval) {
        if (!ParseInterval(intervalText, interval)) {
            std::fprintf(stderr, "ferobrixlan-cli number: the interval must be a whole number from 1 to %lld, not '%s'\n",
                         static_cast<long long>(editor::kLastSequenceNumber), intervalText.c_str());
            return 2;
        }
    } else {
        // The interval of the operator's settings; the configuration is only
        // read here, never created or repaired.
        if (!haveConfig)
            configPath = defaultConfigPath(programDirFrom(std::filesystem::current_path().string()));
        Settings settings;
        LoadOutcome outcome = loadSettings(settings, configPath, LoadPurpose::Restore);
        if (outcome.defaultsTaken)
            std::fprintf(stderr, "ferobrixlan-cli number: %s not readable, the default interval %s is used\n",
                         configPath.c_str(), settings.serialInterval.c_str());
        interval = editor::IntervalValue(settings.serialInterval);
        if (interval < 1) {
            std::fprintf(stderr, "ferobrixlan-cli number: the interval '%s' of %s is not a number from 1 up; give --interval\n",
                         settings.serialInterval.c_str(), configPath.c_str());
            return 2;
        }
    }

    std::string text;
    Status status = readWholeFile(inPath, text);
    if (!status.isOk()) {
        std::fprintf(stderr, "ferobrixlan-cli number: %s\n", status.message().c_str());
        return 2;
    }

    editor::NumberingResult result = editor::NumberProgram(text, interval);
    text.clear();
    text.shrink_to_fit();
    if (result.refused()) {
        Message refusal = editor::NWordRefusal(result.check);
        std::fprintf(stderr, "%s: %s\n", inPath.c_str(), refusal.text.c_str());
        return 1;
    }

    if (haveOut && outPath != "-") {
        // Never a half program, also when OUT is the input.
        status = replaceFile(outPath, result.numberedText);
        if (!status.isOk()) {
            std::fprintf(stderr, "ferobrixlan-cli number: %s\n", status.message().c_str());
            return 2;
        }
        return 0;
    }
    const std::string& out = result.numberedText;
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        std::perror("ferobrixlan-cli number: standard output");
        return 2;
    }
    return 0;
}

}  // namespace fbx::cli
