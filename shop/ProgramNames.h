#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "Status.h"

namespace fbx::shop {

// Program names come from bytes a machine sent: the name a request captures
// and the O-number that names a stored file. Nothing here trusts them.

inline constexpr std::size_t kMaxNameLength = 64;

// Why name cannot be used as a file name, or an empty string when it can: it
// must be a plain name of 1 to 64 bytes, with no "/", no "..", no control
// bytes (0..31, 127), and not "." itself.
std::string nameProblem(std::string_view name);

// dir/name when that path, with every symbolic link resolved, stays inside
// dir (also resolved); an empty string otherwise. name must pass nameProblem.
std::string pathInside(const std::string& dir, const std::string& name);

// The program's first O-number ("O1234"): an "O" that follows no letter or
// digit, and 1 to 8 digits after it. Empty when the text has none.
std::string firstProgramNumber(std::string_view text);

// The name of a program without an O-number: local date and time,
// "20250314-073005".
std::string timeStampName(std::time_t when);

// A requested program in a machine's folder.
struct Requested {
    enum class Kind { Found, Missing, Refused } kind = Kind::Missing;
    std::string path;    // Found: the file
    std::string reason;  // Refused: why
};

// Looks for name + ".nc", ".txt", ".tap", then name itself, in folder. A
// name that fails nameProblem, or whose file lies outside folder once links
// are resolved, is refused.
Requested findRequested(const std::string& folder, const std::string& name);

// Stores text in dir as base + suffix, never replacing a file that is there:
// O1234.nc, then O1234-1.nc, O1234-2.nc, ... The file appears only whole: it
// is written under a hidden name beside it, flushed to the disk, and then
// linked in under its name. storedPath gets the file's path.
Status storeProgram(const std::string& dir, const std::string& base, const std::string& suffix,
                    std::string_view text, std::string& storedPath);

// Gives a whole file that is already on the disk (flushed) its name in dir,
// as storeProgram names what it writes, and removes its old name.
Status linkProgram(const std::string& dir, const std::string& base, const std::string& suffix,
                   const std::string& existing, std::string& storedPath);

}  // namespace fbx::shop
