#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Http.h"
#include "Status.h"

namespace fbx::shop::web {

// A machine's programs as the web side shows and changes them: its `folder`
// (the library) and its `incoming` folder (what the machine punched). Names
// come from browsers and scripts and are checked as a machine's requests
// are: a plain name of at most 64 characters, no "/", no "..", no control
// bytes, and a file that stays inside the folder once links are resolved.

struct ProgramFile {
    std::string name;
    std::int64_t size = 0;
    std::time_t modified = 0;
};

// The programs in folder: regular files (or links to them inside it) whose
// names pass the checks and do not begin with "."; sorted by name.
std::vector<ProgramFile> listPrograms(const std::string& folder);

// Opens the program name in folder for reading, or returns -1 with why
// ("not found" when there is no such program, else the reason for refusal).
int openProgram(const std::string& folder, const std::string& name, std::int64_t& size,
                std::string& why);

// Why name cannot be given to an upload: the request-name checks, and no
// "." at its start nor a kept version's "~N~" at its end. Empty: it can.
std::string uploadNameProblem(std::string_view name);

// The name under which a program's previous version is kept.
std::string previousVersionName(const std::string& name);

// An upload to folder/name, taken piece by piece as it arrives. It is
// written beside its name, flushed to the disk and then takes the name in
// one step; a program that had the name is kept as NAME.~1~ (replacing an
// older one kept there). Until commit() nothing the machine can ask for
// changes; an upload that is not committed leaves nothing behind.
class ProgramUpload : public BodySink {
public:
    ProgramUpload(std::string folder, std::string name, std::uint64_t limit);
    ~ProgramUpload() override;
    Status open();
    bool take(std::string_view bytes) override;
    // Links the program in; replaced says whether a previous version was kept.
    Status commit(bool& replaced);
    bool tooLarge() const { return m_tooLarge; }
    const Status& failure() const { return m_failure; }
    std::uint64_t size() const { return m_written; }

private:
    std::string m_folder, m_name, m_hidden;
    std::uint64_t m_limit;
    int m_fd = -1;
    std::uint64_t m_written = 0;
    bool m_tooLarge = false;
    Status m_failure;
};

// Removes folder/name; a program that is not there is refused.
Status deleteProgram(const std::string& folder, const std::string& name);

}  // namespace fbx::shop::web
