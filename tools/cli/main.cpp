#include <cstdio>
#include <cstring>
#include <string>

#include "Commands.h"

namespace {

const char* kUsage =
    "usage: ferobrixlan-cli COMMAND [options]\n"
    "\n"
    "  settings [--config PATH]\n"
    "      load the configuration (created with the defaults when missing or\n"
    "      damaged) and print the status line and the serial codes\n"
    "  send FILE [--config PATH] [--yes]\n"
    "      send a program to the machine on the configured port\n"
    "  receive FILE [--config PATH] [--yes]\n"
    "      receive a program from the machine into FILE\n"
    "  number FILE [--interval N] [--config PATH] [-o OUT]\n"
    "      write N sequence numbers in front of the program's lines\n"
    "  compare A B\n"
    "      compare two programs block by block, ignoring sequence numbers, blanks,\n"
    "      line ends, leader and case; exit 0 when they are the same, 1 when not\n"
    "  --help\n"
    "      this text\n"
    "\n"
    "The configuration is ferobrixlan.cfg in the current directory unless\n"
    "--config names another. Port N is the device named by FEROBRIXLAN_PORT<N>,\n"
    "else the one given for N in ferobrixlan.ports in the current directory\n"
    "(N=/dev/ttyUSB0, N=rfc2217://HOST:PORT or N=tcp://HOST:PORT), else\n"
    "/dev/ttyS<N-1>.\n";

}  // namespace

namespace fbx::cli {

bool takeOption(Args& args, const std::string& name, std::string& value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size()) {
            value = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

bool takeFlag(Args& args, const std::string& name) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            args.erase(args.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

}  // namespace fbx::cli

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    fbx::cli::Args args(argv + 2, argv + argc);
    if (command == "settings") return fbx::cli::runSettings(args);
    if (command == "send") return fbx::cli::runSend(args);
    if (command == "receive") return fbx::cli::runReceive(args);
    if (command == "number") return fbx::cli::runNumber(args);
    if (command == "compare") return fbx::cli::runCompare(args);
    std::fprintf(stderr, "ferobrixlan-cli: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return 2;
}
