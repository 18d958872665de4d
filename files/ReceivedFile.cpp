#include "ReceivedFile.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "FileIo.h"

namespace fbx {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEmptyLine = "\r\n";
constexpr int kRecoveredNames = 99;

Status errnoStatus(const std::string& path, int err) {
    return Status::fileError(describeErrno(path, err));
}

fs::path tempDirectory() {
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : dir;
}

// A file in the temporary directory for text that found no place beside the
// target; attempt numbers the names apart.
std::string rescuePathFor(const std::string& target, int attempt) {
    const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    std::string name = fs::path(target).filename().string();
    if (name.empty()) name = "received";
    return (tempDirectory() / ("ferobrixlan-rescue-" + std::to_string(stamp) + "-" +
                               std::to_string(::getpid()) +
                               (attempt ? "-" + std::to_string(attempt) : "") + "-" + name))
        .string();
}

// Creates a new file (never an existing one) holding bytes, flushed to the
// disk, and returns its descriptor open for reading and writing, or -1 with
// the errno of the failure in err.
int createHeld(const std::string& path, std::string_view bytes, int& err) {
    err = 0;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (writeAll(fd, bytes, err) != bytes.size() || ::fsync(fd) != 0) {
        if (err == 0) err = errno;
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    syncDirectoryOf(path);
    return fd;
}

}  // namespace

ReceivedFile::ReceivedFile(std::string path) : m_target(path), m_path(std::move(path)) {}

ReceivedFile::~ReceivedFile() { release(); }

ReceivedFile::ReceivedFile(ReceivedFile&& other) noexcept { *this = std::move(other); }

ReceivedFile& ReceivedFile::operator=(ReceivedFile&& other) noexcept {
    if (this == &other) return *this;
    release();
    m_target = std::move(other.m_target);
    m_path = std::move(other.m_path);
    m_fd = std::exchange(other.m_fd, -1);
    m_device = other.m_device;
    m_inode = other.m_inode;
    m_size = other.m_size;
    m_crc = other.m_crc;
    m_appended = other.m_appended;
    m_moved = other.m_moved;
    m_lost = other.m_lost;
    return *this;
}

void ReceivedFile::release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

Status ReceivedFile::hold(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return errnoStatus(m_path, err);
    }
    release();
    m_fd = fd;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    m_size = st.st_size;
    return Status::ok();
}

Status ReceivedFile::prepare() {
    release();
    m_path = m_target;
    m_appended = m_moved = false;
    m_lost = 0;
    m_crc = Crc32{};
    int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return errnoStatus(m_path, errno);
    int err = 0;
    if (writeAll(fd, kEmptyLine, err) != kEmptyLine.size()) {
        ::close(fd);
        return errnoStatus(m_path, err);
    }
    Status st = hold(fd);
    if (!st.isOk()) return st;
    m_crc.update(kEmptyLine);
    return syncDirectoryOf(m_path);
}

Status ReceivedFile::adopt() {
    release();
    m_path = m_target;
    m_appended = m_moved = false;
    m_lost = 0;
    int fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errnoStatus(m_path, errno);
    Status st = hold(fd);
    if (!st.isOk()) return st;
    std::string content(static_cast<size_t>(m_size), '\0');
    if (::pread(m_fd, content.data(), content.size(), 0) != m_size)
        return errnoStatus(m_path, errno ? errno : EIO);
    m_crc = Crc32{};
    m_crc.update(content);
    return Status::ok();
}

bool ReceivedFile::stillOurs() const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) return false;
    return static_cast<std::uint64_t>(st.st_dev) == m_device &&
           static_cast<std::uint64_t>(st.st_ino) == m_inode && st.st_size == m_size;
}

Status ReceivedFile::moveReception() {
    // What this reception wrote, read back through the descriptor we hold: a
    // removed or renamed file is still there for us. Bytes that another
    // program changed in place cannot be trusted and are counted as lost.
    std::string content(static_cast<size_t>(m_size), '\0');
    ssize_t got = m_fd < 0 ? -1 : ::pread(m_fd, content.data(), content.size(), 0);
    Crc32 check;
    if (got == m_size) check.update(content);
    if (got != m_size || check.value() != m_crc.value()) {
        m_lost += m_size - static_cast<std::int64_t>(kEmptyLine.size());
        content = kEmptyLine;
    }

    const fs::path target(m_target);
    const std::string stem = target.stem().string(), ext = target.extension().string();
    int fd = -1, err = 0;
    std::string where;
    for (int i = 1; i <= kRecoveredNames && fd < 0; ++i) {
        where = (target.parent_path() /
                 (stem + "-recovered" + (i > 1 ? "-" + std::to_string(i) : "") + ext))
                    .string();
        fd = createHeld(where, content, err);
        if (fd < 0 && err != EEXIST) break;
    }
    for (int i = 0; i < kRecoveredNames && fd < 0; ++i) {
        where = rescuePathFor(m_target, i);
        fd = createHeld(where, content, err);
        if (fd < 0 && err != EEXIST) break;
    }
    if (fd < 0) return errnoStatus(where, err);
    m_path = where;
    Status held = hold(fd);
    if (!held.isOk()) return held;
    m_crc = Crc32{};
    m_crc.update(content);
    m_moved = true;
    return Status::ok();
}

ReceivedFile::Written ReceivedFile::write(std::string_view text) {
    Written w;
    if (::lseek(m_fd, m_size, SEEK_SET) < 0) {
        w.status = errnoStatus(m_path, errno);
        return w;
    }
    int err = 0;
    const size_t done = writeAll(m_fd, text, err);
    if (done == text.size()) {
        m_size += static_cast<std::int64_t>(done);
        m_crc.update(text);
        m_appended = true;
        w.written = done;
        return w;
    }
    w.status = errnoStatus(m_path, err);
    // Take the file back to what it held, so that a retry does not write the
    // same text twice; if that fails too, account for what is there.
    if (done > 0 && ::ftruncate(m_fd, m_size) != 0) {
        m_size += static_cast<std::int64_t>(done);
        m_crc.update(text.substr(0, done));
        m_appended = true;
        w.written = done;
    }
    return w;
}

ReceivedFile::Written ReceivedFile::append(std::string_view text) {
    Written w;
    if (m_fd < 0) {
        w.status = Status::fileError(m_path + ": the file is not open for this reception");
        return w;
    }
    bool movedNow = false;
    if (!stillOurs()) {
        Status st = moveReception();
        if (!st.isOk()) {
            w.status = st;
            return w;
        }
        movedNow = true;
    }
    w = write(text);
    w.movedNow = movedNow;
    return w;
}

ReceivedFile::Written ReceivedFile::saveIncomplete(std::string_view text) {
    std::string withEnd(text);
    withEnd += kEmptyLine;
    if (m_appended || m_moved || m_fd < 0 || !stillOurs()) return append(withEnd);
    // Nothing of the reception is in the file yet: its content is replaced.
    Written w;
    w.status = replaceFile(m_path, withEnd);
    if (!w.status.isOk()) return w;
    int fd = ::open(m_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        w.status = errnoStatus(m_path, errno);
        return w;
    }
    w.status = hold(fd);
    if (!w.status.isOk()) return w;
    m_crc = Crc32{};
    m_crc.update(withEnd);
    m_appended = true;
    w.written = withEnd.size();
    return w;
}

Status ReceivedFile::finish() {
    if (m_fd < 0) return Status::ok();
    Status status;
    if (m_appended && !stillOurs()) status = moveReception();
    if (::fsync(m_fd) != 0 && status.isOk()) status = errnoStatus(m_path, errno);
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0 && status.isOk()) status = errnoStatus(m_path, errno);
    return status;
}

std::string ReceivedFile::rescue(std::string_view text, std::string& error) const {
    for (int i = 0; i < kRecoveredNames; ++i) {
        const std::string where = rescuePathFor(m_target, i);
        if (::access(where.c_str(), F_OK) == 0) continue;
        Status st = createNewFile(where, text);
        if (st.isOk()) return where;
        error = st.message();
        if (::access(where.c_str(), F_OK) != 0) break;
    }
    return {};
}

}  // namespace fbx
