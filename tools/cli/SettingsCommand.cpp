#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "ConfigFile.h"
#include "ProTool.h"

namespace fbx::cli {

Loaded loadConfiguration(Args& args) {
    Loaded loaded;
    if (!takeOption(args, "--config", loaded.configPath))
        loaded.configPath =
            defaultConfigPath(programDirFrom(std::filesystem::current_path().string()));
    LoadOutcome outcome = loadSettings(loaded.settings, loaded.configPath);
    if (outcome.defaultsTaken) std::fprintf(stderr, "%s\n", kWelcomeText);
    if (!outcome.writeStatus.isOk())
        std::fprintf(stderr, "ferobrixlan-cli: could not write the configuration: %s\n",
                     outcome.writeStatus.message().c_str());
    ProTool(loaded.settings, loaded.codes);
    return loaded;
}

int runSettings(const Args& given) {
    Args args = given;
    Loaded loaded = loadConfiguration(args);
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
