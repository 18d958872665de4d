#include "FileFaults.h"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace {
int g_fsyncError = 0;
int g_truncateError = 0;

bool isRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Takes a planned failure: errno set from it, and true; false when none.
bool takeFailure(int& planned) {
    if (planned == 0) return false;
    errno = planned;
    planned = 0;
    return true;
}
}  // namespace

namespace fbx::test {
void failNextFsync(int err) {
    g_fsyncError = err;
}
void failNextTruncate(int err) {
    g_truncateError = err;
}
}  // namespace fbx::test

extern "C" {
int __real_fsync(int fd);
int __real_ftruncate(int fd, off_t length);

int __wrap_fsync(int fd) {
    return isRegularFile(fd) && takeFailure(g_fsyncError) ? -1 : __real_fsync(fd);
}

int __wrap_ftruncate(int fd, off_t length) {
    return takeFailure(g_truncateError) ? -1 : __real_ftruncate(fd, length);
}
}
