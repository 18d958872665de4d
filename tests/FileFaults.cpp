#include "FileFaults.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace {
int g_closeError = 0;
int g_fsyncError = 0;
int g_truncateError = 0;

bool isRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

namespace fbx::test {
void failNextClose(int err) {
    g_closeError = err;
}
void failNextFsync(int err) {
    g_fsyncError = err;
}
void failNextTruncate(int err) {
    g_truncateError = err;
}
}  // namespace fbx::test

extern "C" {
int __real_close(int fd);
int __real_fsync(int fd);
int __real_ftruncate(int fd, off_t length);

int __wrap_close(int fd) {
    const bool regular = isRegularFile(fd);
    const int rc = __real_close(fd);
    if (regular && g_closeError != 0) {
        errno = g_closeError;
        g_closeError = 0;
        return -1;
    }
    return rc;
}

int __wrap_fsync(int fd) {
    if (g_fsyncError != 0 && isRegularFile(fd)) {
        errno = g_fsyncError;
        g_fsyncError = 0;
        return -1;
    }
    return __real_fsync(fd);
}

int __wrap_ftruncate(int fd, off_t length) {
    if (g_truncateError != 0) {
        errno = g_truncateError;
        g_truncateError = 0;
        return -1;
    }
    return __real_ftruncate(fd, length);
}
}
