#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Settings.h"
#include "WebConfig.h"

namespace fbx::shop {

// How a machine's punched programs are delimited.
enum class ReceiveMode {
    Marks,       // from the first "%" through the second ("Data In/Out")
    Continuous,  // everything until `idle` seconds of silence ("NOMAL")
};

// The tape code of a machine's line. Auto recognises each program by its
// first telling byte: "%", CR or LF is ISO, the EIA "%" (0x5B) or end of
// block (0x80) is EIA; a program that shows none of them is taken as ISO.
enum class TapeCode { Iso, Eia, Auto };

// One machine of the shop: a section [NAME] of the configuration.
struct MachineConfig {
    std::string name;
    std::string port;  // the device (or network port) of its line
    int baud = 9600;
    int dataBits = 7;
    char parity = 'e';   // 'n', 'e' or 'o'
    int stopBits = 2;
    std::string handshake = "Soft";  // "Soft" or "Brix"
    TapeCode code = TapeCode::Iso;
    std::array<std::string, 7> rules{};  // processing strings, rule1..rule7
    std::string folder;    // its programs, absolute
    std::string incoming;  // where punched programs are stored, absolute
    ReceiveMode receive = ReceiveMode::Marks;
    double idleSeconds = 5;
    std::string request;  // regular expression with one group: the program's name

    bool operator==(const MachineConfig&) const = default;
    // Same port and line parameters: the open line can be kept.
    bool sameLine(const MachineConfig& other) const;
};

struct ServiceConfig {
    std::string journal;    // absolute
    std::string stateFile;  // absolute
};

// Something wrong in the configuration, with where it is. An error in a
// machine's section means that machine is not started; the others are.
struct ConfigProblem {
    enum class Kind {
        Error,     // the section is not started
        Unusable,  // something the service needs is missing or not writable
        Warning,   // told, and nothing else (a device that is not plugged in yet)
    };
    std::string section;  // empty: the file as a whole
    std::string key;      // empty: the section as a whole
    std::string message;
    int line = 0;  // 1-based line of the file, 0 when not tied to one
    Kind kind = Kind::Error;
};

struct ShopConfig {
    ServiceConfig service;
    std::vector<MachineConfig> machines;  // the sections that are fit to start
    std::vector<ConfigProblem> problems;
    std::vector<std::string> refused;  // sections that are not started
    bool readable = true;              // false: the file could not be read at all
    web::WebConfig web;                // the [web] section; not enabled without it
    // Where each key stands: "section\nkey" (key empty: the section's header).
    std::map<std::string, int> lines;
};

// The default `request` pattern: a comment "(LOAD O1234)" or "(SEND O1234)"
// anywhere in the program. It captures whatever name stands there; the
// name checks decide whether it may be used.
inline constexpr const char* kDefaultRequest = R"(\((?:LOAD|SEND) +([^()\r\n]+?) *\))";

// Reads the configuration text. Paths that are not absolute are taken
// relative to baseDir (the configuration file's directory). Values are
// taken as written, after surrounding blanks and one pair of enclosing double
// quotes are removed; keys are not case-sensitive. Never fails as a whole:
// every problem is listed, with its line, and only the sections it concerns
// are refused. The journal and the state file default to stateDir (systemd's
// state directory of the service) or, when that is empty, to baseDir.
ShopConfig parseShopConfig(std::string_view text, const std::string& baseDir,
                           const std::string& stateDir = {});

// Reads the configuration file at path (see parseShopConfig), with the
// state directory systemd gives the service ($STATE_DIRECTORY).
ShopConfig readShopConfig(const std::string& path);

// Adds what the running service would find wrong, as the user this process
// runs as: an `incoming` folder, the journal's and the state file's folders
// that cannot be written (Unusable), a `folder` that cannot be read
// (Unusable), a device path that does not exist (Warning: a USB adapter may
// come later).
void checkShopEnvironment(ShopConfig& config);

// Whether the service may take config as it is at a reload: the file was
// read whole and holds no error and at least one machine. Empty when it may;
// otherwise why not.
std::string reloadProblem(const ShopConfig& config);

// The engine settings that carry a machine's line parameters, handshake and
// processing strings; mode and tape code are the caller's.
Settings engineSettings(const MachineConfig& machine);

// A problem as one line of text: "[mill-1] baud (line 12): ..." or
// "line 12: ...".
std::string describe(const ConfigProblem& problem);

}  // namespace fbx::shop
