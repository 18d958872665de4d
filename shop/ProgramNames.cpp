#include "ProgramNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <unordered_map>

#include "FileIo.h"

namespace fbx::shop {

namespace fs = std::filesystem;

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlnum(char c) { return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Whether path lies below root (both absolute and resolved).
bool isInside(const fs::path& root, const fs::path& path) {
    std::string prefix = root.string();
    if (prefix.back() != '/') prefix += '/';
    const std::string full = path.string();
    return full.size() > prefix.size() && full.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string nameProblem(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > kMaxNameLength)
        return "the name is longer than " + std::to_string(kMaxNameLength) + " characters";
    if (name == ".") return "the name is \".\"";
    if (name.find("..") != std::string_view::npos) return "the name holds \"..\"";
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (c == '/') return "the name holds \"/\"";
        if (b < 32 || b == 127) return "the name holds a control byte";
    }
    return {};
}

std::string pathInside(const std::string& dir, const std::string& name) {
    if (!nameProblem(name).empty()) return {};
    std::error_code ec;
    const fs::path root = fs::canonical(dir, ec);
    if (ec) return {};
    const fs::path resolved = fs::weakly_canonical(root / name, ec);
    if (ec || !isInside(root, resolved)) return {};
    return (root / name).string();
}

std::string firstProgramNumber(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != 'O' || (i > 0 && isAlnum(text[i - 1]))) continue;
        size_t digits = 0;
        while (i + 1 + digits < text.size() && isDigit(text[i + 1 + digits])) ++digits;
        if (digits >= 1 && digits <= 8) return std::string(text.substr(i, digits + 1));
    }
    return {};
}

std::string timeStampName(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

Requested findRequested(const std::string& folder, const std::string& name) {
    Requested found;
    if (std::string why = nameProblem(name); !why.empty()) {
        found.kind = Requested::Kind::Refused;
        found.reason = why;
        return found;
    }
    for (const char* extension : {".nc", ".txt", ".tap", ""}) {
        const std::string candidate = name + extension;
        if (!nameProblem(candidate).empty()) continue;  // too long with the extension
        std::error_code ec;
        const fs::path plain = fs::path(folder) / candidate;
        if (!fs::exists(fs::symlink_status(plain, ec))) continue;
        const std::string inside = pathInside(folder, candidate);
        if (inside.empty()) {
            found.kind = Requested::Kind::Refused;
            found.reason = candidate + " leads outside the machine's folder";
            return found;
        }
        if (fs::is_regular_file(inside, ec)) {
            found.kind = Requested::Kind::Found;
            found.path = inside;
            return found;
        }
    }
    return found;
}

Status storeProgram(const std::string& dir, const std::string& base, const std::string& suffix,
                    std::string_view text, std::string& storedPath) {
    if (std::string why = nameProblem(base + suffix); !why.empty())
        return Status::refused(base + suffix + ": " + why);
    std::string hidden = (fs::path(dir) / ".ferobrixlan-store-XXXXXX").string();
    int fd = mkstemp(hidden.data());
    if (fd < 0) return Status::fileError(describeErrno(dir, errno));
    fchmod(fd, 0644);
    int writeError = 0;
    bool written = writeAll(fd, text, writeError) == text.size();
    if (written && fsync(fd) != 0) {
        written = false;
        writeError = errno;
    }
    ::close(fd);
    if (!written) {
        unlink(hidden.c_str());
        return Status::fileError(describeErrno(hidden, writeError));
    }
    Status linked = linkProgram(dir, base, suffix, hidden, storedPath);
    unlink(hidden.c_str());
    return linked;
}

Status linkProgram(const std::string& dir, const std::string& base, const std::string& suffix,
                   const std::string& existing, std::string& storedPath) {
    if (std::string why = nameProblem(base + suffix); !why.empty())
        return Status::refused(base + suffix + ": " + why);
    // link() never replaces a file: an existing name answers EEXIST and the
    // next number is tried. The plain name first, then the numbers after the
    // last one given here, then those before it: a machine that punches the
    // same program a thousand times costs one try per program, not a
    // thousand (the service's one thread only).
    static std::unordered_map<std::string, int> lastNumbers;
    if (lastNumbers.size() > 1024) lastNumbers.clear();
    int& last = lastNumbers[(fs::path(dir) / (base + suffix)).string()];
    Status result = Status::fileError(dir + ": no free name for " + base + suffix);
    for (int i = 0; i < 10000; ++i) {
        const int number = i == 0 ? 0 : (last + i - 1) % 9999 + 1;
        const std::string name =
            number == 0 ? base + suffix : base + "-" + std::to_string(number) + suffix;
        const std::string target = (fs::path(dir) / name).string();
        if (::link(existing.c_str(), target.c_str()) == 0) {
            storedPath = target;
            if (number > 0) last = number;
            result = Status::ok();
            break;
        }
        if (errno != EEXIST) {
            result = Status::fileError(describeErrno(target, errno));
            break;
        }
    }
    if (!result.isOk()) return result;
    unlink(existing.c_str());
    // The new name itself reaches the disk with the directory.
    syncDirectoryOf(storedPath);
    return result;
}

}  // namespace fbx::shop
