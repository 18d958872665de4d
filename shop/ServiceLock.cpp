#include "ServiceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <cerrno>
#include <string>

namespace fbx::shop {

ServiceLock::~ServiceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

Status ServiceLock::acquire(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return Status::fileError(describeErrno(path, errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char pid[32] = "";
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        if (err != EWOULDBLOCK) return Status::fileError(describeErrno(path, err));
        std::string holder(pid, n > 0 ? static_cast<size_t>(n) : 0);
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' '))
            holder.pop_back();
        return Status::refused("another ferobrixlan-server" +
                               (holder.empty() ? std::string() : " (pid " + holder + ")") +
                               " runs with " + path);
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the PID cannot be told.
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
    return Status::ok();
}

}  // namespace fbx::shop
