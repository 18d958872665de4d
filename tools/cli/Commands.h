#pragma once

#include <string>
#include <vector>

namespace fbx::cli {

using Args = std::vector<std::string>;

// Each subcommand takes the arguments after its name and returns the exit code.
int runSettings(const Args& args);
int runSend(const Args& args);
int runReceive(const Args& args);
int runNumber(const Args& args);

// Reads "--name VALUE" from args (removing both); false when absent.
bool takeOption(Args& args, const std::string& name, std::string& value);
// Reads a flag such as "--yes" from args (removing it).
bool takeFlag(Args& args, const std::string& name);

}  // namespace fbx::cli
