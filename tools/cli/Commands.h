#pragma once

#include <string>
#include <vector>

#include "Settings.h"

namespace fbx::cli {

using Args = std::vector<std::string>;

// Each subcommand takes the arguments after its name and returns the exit code.
int runSettings(const Args& args);
int runSend(const Args& args);
int runReceive(const Args& args);
int runNumber(const Args& args);
int runCompare(const Args& args);

struct Loaded {
    Settings settings;
    SerialCodes codes;
    std::string configPath;
    bool ok = true;  // false: a named file is no configuration (told on stderr)
};
// Takes --config PATH from args (default ferobrixlan.cfg in the current
// directory) and loads it, creating it with the defaults when missing (and,
// for the default file, when damaged); says so on standard error. A file
// named by --config that exists and is no configuration is refused and left
// untouched (ok false).
Loaded loadConfiguration(Args& args);

// Reads "--name VALUE" from args (removing both); false when absent.
bool takeOption(Args& args, const std::string& name, std::string& value);
// Reads a flag such as "--yes" from args (removing it).
bool takeFlag(Args& args, const std::string& name);

}  // namespace fbx::cli
