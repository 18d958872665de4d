#include "ProgramLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "FileIo.h"
#include "ProgramNames.h"

namespace fbx::shop::web {

namespace fs = std::filesystem;

namespace {

// The file name in folder may stand for, or an empty path with why not.
std::string checkedPath(const std::string& folder, const std::string& name, std::string& why) {
    why = nameProblem(name);
    if (!why.empty()) return {};
    const std::string inside = pathInside(folder, name);
    if (inside.empty()) why = name + " leads outside the folder";
    return inside;
}

}  // namespace

std::vector<ProgramFile> listPrograms(const std::string& folder) {
    std::vector<ProgramFile> programs;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.' || !nameProblem(name).empty()) continue;
        std::string why;
        const std::string path = checkedPath(folder, name, why);
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        programs.push_back({name, static_cast<std::int64_t>(st.st_size), st.st_mtime});
    }
    std::sort(programs.begin(), programs.end(),
              [](const ProgramFile& a, const ProgramFile& b) { return a.name < b.name; });
    return programs;
}

int openProgram(const std::string& folder, const std::string& name, std::int64_t& size,
                std::string& why) {
    const std::string path = checkedPath(folder, name, why);
    if (path.empty()) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        why = "not found";
        return -1;
    }
    size = st.st_size;
    return fd;
}

std::string uploadNameProblem(std::string_view name) {
    if (std::string why = nameProblem(name); !why.empty()) return why;
    if (name[0] == '.') return "the name begins with \".\"";
    if (name.size() >= 3 && name.back() == '~' && name.find(".~") != std::string_view::npos)
        return "the name is that of a kept version (NAME.~1~)";
    return {};
}

std::string previousVersionName(const std::string& name) {
    return name + ".~1~";
}

ProgramUpload::ProgramUpload(std::string folder, std::string name, std::uint64_t limit)
    : m_folder(std::move(folder)), m_name(std::move(name)), m_limit(limit) {}

ProgramUpload::~ProgramUpload() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_hidden.empty()) ::unlink(m_hidden.c_str());
}

Status ProgramUpload::open() {
    std::string why;
    if (checkedPath(m_folder, m_name, why).empty()) return Status::refused(why);
    std::string hidden = (fs::path(m_folder) / ".ferobrixlan-upload-XXXXXX").string();
    m_fd = mkstemp(hidden.data());
    if (m_fd < 0) return Status::fileError(describeErrno(m_folder, errno));
    m_hidden = hidden;
    fchmod(m_fd, 0644);
    return Status::ok();
}

bool ProgramUpload::take(std::string_view bytes) {
    if (m_written + bytes.size() > m_limit) {
        m_tooLarge = true;
        return false;
    }
    int err = 0;
    if (writeAll(m_fd, bytes, err) != bytes.size()) {
        m_failure = Status::fileError(describeErrno(m_hidden, err));
        return false;
    }
    // The disk gets the text as it comes, so that the final flush, which
    // the loop waits for, has little left to do.
    const std::uint64_t mb = 1u << 20;
    if ((m_written + bytes.size()) / mb != m_written / mb)
        sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    m_written += bytes.size();
    return true;
}

Status ProgramUpload::commit(bool& replaced) {
    replaced = false;
    if (fsync(m_fd) != 0) return Status::fileError(describeErrno(m_hidden, errno));
    ::close(m_fd);
    m_fd = -1;
    std::string why;
    const std::string target = checkedPath(m_folder, m_name, why);
    if (target.empty()) return Status::refused(why);
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Status::refused(m_name + " is a folder");
        // The program keeps its name until the new one takes it; its
        // previous version is linked in under the kept name first.
        std::string keep = (fs::path(m_folder) / ".ferobrixlan-keep-XXXXXX").string();
        const int fd = mkstemp(keep.data());
        if (fd < 0) return Status::fileError(describeErrno(m_folder, errno));
        ::close(fd);
        ::unlink(keep.c_str());
        if (::link(target.c_str(), keep.c_str()) != 0)
            return Status::fileError(describeErrno(target, errno));
        const std::string kept = (fs::path(m_folder) / previousVersionName(m_name)).string();
        if (std::rename(keep.c_str(), kept.c_str()) != 0) {
            const int err = errno;
            ::unlink(keep.c_str());
            return Status::fileError(describeErrno(kept, err));
        }
        replaced = true;
    }
    if (std::rename(m_hidden.c_str(), target.c_str()) != 0)
        return Status::fileError(describeErrno(target, errno));
    m_hidden.clear();
    syncDirectoryOf(target);
    return Status::ok();
}

Status deleteProgram(const std::string& folder, const std::string& name) {
    std::string why;
    const std::string path = checkedPath(folder, name, why);
    if (path.empty()) return Status::refused(why);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Status::nothingWaiting();
    if (::unlink(path.c_str()) != 0) return Status::fileError(describeErrno(path, errno));
    syncDirectoryOf(path);
    return Status::ok();
}

}  // namespace fbx::shop::web
