// Feeds arbitrary bytes to the request matcher and the name checks as a
// machine's request pattern (the first line) and a punched program (the
// rest), and checks what must hold for any program:
//   - a captured name is a piece of the program;
//   - a name that the checks let through, or any name found in a folder,
//     never leads outside that folder, symbolic links included;
//   - the first O-number is an "O" with one to eight digits, taken from the
//     program, and always a usable file name;
//   - the journal line of any name is one line without control bytes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "ConfigFile.h"
#include "FuzzCheck.h"
#include "Journal.h"
#include "ProgramNames.h"
#include "RequestMatcher.h"
#include "ShopConfig.h"

namespace {

constexpr const char* kFuzzTarget = "fuzz_request";
namespace fs = std::filesystem;

// A machine's folder with a program, a subfolder and a link that leads out.
const std::string& folder() {
    static const std::string path = [] {
        std::string dir = (fs::temp_directory_path() / ("fbx-fuzz-request-" +
                                                         std::to_string(getpid())))
                              .string();
        fs::create_directories(dir + "/nc/sub");
        fbx::writeWholeFile(dir + "/nc/O1.nc", "%\r\nO1\r\n%");
        fbx::writeWholeFile(dir + "/nc/sub/O2.nc", "%\r\nO2\r\n%");
        fbx::writeWholeFile(dir + "/outside.nc", "%\r\nOUT\r\n%");
        std::error_code ec;
        fs::create_symlink(dir + "/outside.nc", dir + "/nc/LINK.nc", ec);
        return fs::canonical(dir + "/nc").string();
    }();
    return path;
}

void checkName(const std::string& program, const std::string& name) {
    using namespace fbx::shop;
    CHECK(program.find(name) != std::string::npos);
    const Requested found = findRequested(folder(), name);
    if (found.kind == Requested::Kind::Found) {
        CHECK(nameProblem(name).empty());
        const std::string real = fs::canonical(found.path).string();
        CHECK(real.rfind(folder() + "/", 0) == 0);
    }
    if (!nameProblem(name).empty()) CHECK(found.kind == Requested::Kind::Refused);
    const std::string inside = pathInside(folder(), name);
    if (!inside.empty()) {
        std::error_code ec;
        const std::string real = fs::weakly_canonical(inside, ec).string();
        CHECK(real.rfind(folder() + "/", 0) == 0);
    }
    JournalRecord r;
    r.file = name;
    const std::string line = formatJournalLine(r);
    for (char c : line) CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fbx::shop;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t end = input.find('\n');
    const std::string pattern = end == std::string::npos ? input : input.substr(0, end);
    const std::string program = end == std::string::npos ? input : input.substr(end + 1);

    static RequestMatcher standard = [] {
        RequestMatcher m;
        std::string error;
        m.compile(kDefaultRequest, error);
        return m;
    }();
    if (std::optional<std::string> name = standard.match(program)) checkName(program, *name);

    RequestMatcher custom;
    std::string error;
    if (custom.compile(pattern, error)) {
        if (std::optional<std::string> name = custom.match(program)) checkName(program, *name);
    } else {
        CHECK(!error.empty());
    }

    const std::string number = firstProgramNumber(program);
    if (!number.empty()) {
        CHECK(number[0] == 'O' && number.size() >= 2 && number.size() <= 9);
        CHECK(number.find_first_not_of("0123456789", 1) == std::string::npos);
        CHECK(program.find(number) != std::string::npos);
        CHECK(nameProblem(number + ".nc.partial").empty());
    }
    return 0;
}
