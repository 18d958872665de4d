#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "FileIo.h"
#include "Settings.h"
#include "Status.h"

namespace fbx {

// programDir: the start-up directory with a trailing separator. The
// configuration file and the pictures are looked up in it.
std::string programDirFrom(std::string currentDir);

// configPath at start-up: programDir + "ferobrixlan.cfg".
std::string defaultConfigPath(const std::string& programDir);

// The configuration file as one line: 24 double-quoted values separated by
// commas, ending in CR LF. Field 21 holds configPath, field 22 is empty.
// A double quote inside a value cannot be stored and is left out.
std::string formatConfigLine(const Settings& settings, const std::string& configPath);

// Reads the values of a configuration file's bytes. A value that begins (after
// leading blanks) with a double quote runs to the next double quote, even
// across lines; whatever follows the closing quote up to the next comma or line
// end is skipped. An unquoted value runs to the next comma or line end. Returns
// at most maxValues values; fewer when the text ends first.
std::vector<std::string> readConfigValues(std::string_view text, int maxValues = kConfigValueCount);

// Parses value 23: a decimal number whose integer part (rounded down) lies in
// the 16-bit signed range. False when it is not such a number.
bool parseSendingEdit(std::string_view text, std::int16_t& out);

// Fills settings from the bytes of a configuration file. On failure returns
// false; fields 0..20 may already have been copied (the caller falls back).
bool parseConfig(std::string_view text, Settings& settings);

// What loadSettings did, so that the caller can greet or warn.
struct LoadOutcome {
    bool loaded = false;          // the file was read and taken over
    bool defaultsTaken = false;   // a failure made the defaults replace the record
    bool defaultsWritten = false; // ... and the defaults file was written
    Status writeStatus;           // the write of the defaults, when attempted
};

enum class LoadPurpose {
    Startup,  // a failed load writes the defaults to configPath (first run)
    Restore,  // a failed load takes the defaults in memory only: the chosen
              // file may be an operator's program and is never overwritten
};

// Reads configPath into settings. On any failure (missing, unreadable, fewer
// than 24 values, value 23 not a 16-bit number) the record becomes the defaults
// and, for Startup, the defaults are written to configPath. The caller sounds
// the beep and shows the welcome box when defaultsTaken is set.
LoadOutcome loadSettings(Settings& settings, const std::string& configPath,
                         LoadPurpose purpose = LoadPurpose::Startup);

// Writes settings to configPath, replacing the file.
Status saveSettings(const Settings& settings, const std::string& configPath);

// Sets every field to its default and writes the defaults to configPath.
Status resetSettings(Settings& settings, const std::string& configPath);

}  // namespace fbx
