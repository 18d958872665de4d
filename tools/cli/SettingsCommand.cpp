#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "ConfigFile.h"
#include "ProTool.h"

namespace fbx::cli {

Loaded loadConfiguration(Args& args) {
    Loaded loaded;
    const bool named = takeOption(args, "--config", loaded.configPath);
    if (!named)
        loaded.configPath =
            defaultConfigPath(programDirFrom(std::filesystem::current_path().string()));
    std::error_code ec;
    if (named && std::filesystem::exists(loaded.configPath, ec)) {
        // A named file that exists is read, never replaced: it may be
        // anything, an NC program among others.
        LoadOutcome outcome = loadSettings(loaded.settings, loaded.configPath, LoadPurpose::Restore);
        if (outcome.defaultsTaken) {
            std::fprintf(stderr,
                         "ferobrixlan-cli: %s is not a configuration file (one line of 24 quoted "
                         "values); it was left untouched\n",
                         loaded.configPath.c_str());
            loaded.ok = false;
            return loaded;
        }
    } else {
        LoadOutcome outcome = loadSettings(loaded.settings, loaded.configPath);
        if (outcome.defaultsTaken) std::fprintf(stderr, "%s\n", kWelcomeText);
        if (!outcome.writeStatus.isOk())
            std::fprintf(stderr, "ferobrixlan-cli: could not write the configuration: %s\n",
                         outcome.writeStatus.message().c_str());
    }
    ProTool(loaded.settings, loaded.codes);
    return loaded;
}

int runSettings(const Args& given) {
    Args args = given;
    Loaded loaded = loadConfiguration(args);
    if (!loaded.ok) return 2;
    if (!args.empty()) {
        std::fprintf(stderr, "ferobrixlan-cli settings: unexpected argument '%s'\n", args[0].c_str());
        return 2;
    }
    const Settings& settings = loaded.settings;
    const SerialCodes& codes = loaded.codes;
    std::printf("%s\n", statusLineText(settings).c_str());
    std::printf("portNumber=%d baudCode=%d parityCode=%d dataBitsCode=%d stopBitsCode=%d modeWord=%d\n",
                codes.portNumber, codes.baudCode, codes.parityCode, codes.dataBitsCode,
                codes.stopBitsCode, codes.modeWord());
    return 0;
}

}  // namespace fbx::cli
