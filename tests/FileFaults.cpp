#include "FileFaults.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int g_closeError = 0;
int g_truncateError = 0;
}  // namespace

namespace fbx::test {
void failNextClose(int err) { g_closeError = err; }
void failNextTruncate(int err) { g_truncateError = err; }
}  // namespace fbx::test

extern "C" {
int __real_close(int fd);
int __real_ftruncate(int fd, off_t length);

int __wrap_close(int fd) {
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const int rc = __real_close(fd);
    if (regular && g_closeError != 0) {
        errno = g_closeError;
        g_closeError = 0;
        return -1;
    }
    return rc;
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
