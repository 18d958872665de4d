#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "ConfigFile.h"
#include "ProTool.h"

namespace fbx::cli {

int runSettings(const Args& given) {
    Args args = given;
    std::string configPath;
    if (!takeOption(args, "--config", configPath))
        configPath = defaultConfigPath(programDirFrom(std::filesystem::current_path().string()));
    if (!args.empty()) {
        std::fprintf(stderr, "ferobrixlan-cli settings: unexpected argument '%s'\n", args[0].c_str());
        return 2;
    }
    Settings settings;
    LoadOutcome outcome = loadSettings(settings, configPath);
    if (outcome.defaultsTaken) std::fprintf(stderr, "%s\n", kWelcomeText);
    if (!outcome.writeStatus.isOk())
        std::fprintf(stderr, "ferobrixlan-cli: could not write the configuration: %s\n",
                     outcome.writeStatus.message().c_str());
    SerialCodes codes;
    ProTool(settings, codes);
    std::printf("%s\n", statusLineText(settings).c_str());
    std::printf("portNumber=%d baudCode=%d parityCode=%d dataBitsCode=%d stopBitsCode=%d modeWord=%d\n",
                codes.portNumber, codes.baudCode, codes.parityCode, codes.dataBitsCode,
                codes.stopBitsCode, codes.modeWord());
    return 0;
}

}  // namespace fbx::cli
