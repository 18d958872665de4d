#include "FileIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fbx {

namespace fs = std::filesystem;

std::string describeErrno(const std::string& path, int err) {
    return path + ": " + std::strerror(err);
}

namespace {

Status errnoStatus(const std::string& path, int err) {
    return Status::fileError(describeErrno(path, err));
}

// The file a path names, through a symbolic link: replacing the link itself
// would cut it off from where it points.
std::string resolved(const std::string& path) {
    std::error_code ec;
    if (!fs::is_symlink(path, ec)) return path;
    fs::path target = fs::weakly_canonical(path, ec);
    return ec ? path : target.string();
}

std::string directoryOf(const std::string& path) {
    fs::path dir = fs::path(path).parent_path();
    return dir.empty() ? std::string(".") : dir.string();
}

// Writes, flushes and closes; any failure is reported (a delayed write error
// shows at fsync or at close).
Status finishFile(int fd, const std::string& path, std::string_view bytes) {
    int err = 0;
    if (writeAll(fd, bytes, err) != bytes.size()) {
        ::close(fd);
        return errnoStatus(path, err);
    }
    if (::fsync(fd) != 0) {
        err = errno;
        ::close(fd);
        return errnoStatus(path, err);
    }
    if (::close(fd) != 0) return errnoStatus(path, errno);
    return Status::ok();
}

}  // namespace

size_t writeAll(int fd, std::string_view bytes, int& err) {
    size_t done = 0;
    err = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (n == 0) {
            err = EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

Status readWholeFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errnoStatus(path, errno);
    // One allocation for the whole file: a program may be as large as the
    // memory a send may take.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return errnoStatus(path, err);
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return Status::ok();
}

Status writeWholeFile(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errnoStatus(path, errno);
    int err = 0;
    if (writeAll(fd, bytes, err) != bytes.size()) {
        ::close(fd);
        return errnoStatus(path, err);
    }
    if (::close(fd) != 0) return errnoStatus(path, errno);
    return Status::ok();
}

Status syncDirectoryOf(const std::string& path) {
    const std::string dir = directoryOf(path);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errnoStatus(dir, errno);
    // Some file systems cannot sync a directory; that is no failure of ours.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        int err = errno;
        ::close(fd);
        return errnoStatus(dir, err);
    }
    ::close(fd);
    return Status::ok();
}

Status createNewFile(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return errnoStatus(path, errno);
    Status st = finishFile(fd, path, bytes);
    if (st.isOk()) st = syncDirectoryOf(path);
    if (!st.isOk()) ::unlink(path.c_str());
    return st;
}

Status replaceFile(const std::string& given, std::string_view bytes) {
    const std::string path = resolved(given);
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    const std::string temp = path + ".fbx-" + std::to_string(::getpid()) + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        if ((err == EACCES || err == EPERM) && existed) {
            // The directory takes no new file, but the file itself may be
            // writable: rewrite it in place.
            int inPlace = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (inPlace < 0) return errnoStatus(path, errno);
            return finishFile(inPlace, path, bytes);
        }
        return errnoStatus(existed ? temp : path, err);
    }
    if (existed) ::fchmod(fd, old.st_mode & 07777);
    Status st = finishFile(fd, path, bytes);
    if (st.isOk() && ::rename(temp.c_str(), path.c_str()) != 0) st = errnoStatus(path, errno);
    if (!st.isOk()) {
        ::unlink(temp.c_str());
        return st;
    }
    return syncDirectoryOf(path);
}

}  // namespace fbx
