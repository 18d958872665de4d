#pragma once

#include <sys/resource.h>
#include <csignal>

namespace fbx::test {

// The next fsync() of a regular file fails with err without flushing
// anything, as a delayed write error would; the next ftruncate() fails with
// err without doing anything. 0 takes back a failure not used yet. Only for
// test executables linked with -Wl,--wrap=fsync -Wl,--wrap=ftruncate and
// FileFaults.cpp.
void failNextFsync(int err);
void failNextTruncate(int err);

// Files of this process cannot grow past limit bytes while the object lives:
// a write that would cross it is cut short and the next one fails with
// EFBIG, as on a disk that has just filled up.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = m_saved;
        r.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_saved); }

private:
    rlimit m_saved{};
};

}  // namespace fbx::test
