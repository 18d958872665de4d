#pragma once

#include <string>

#include "Status.h"

namespace fbx::shop {

// Keeps a second service off the same state and journal: an exclusive
// flock() on a lock file, held for the process's life (the system lets it go
// when the process ends, however it ends). The file holds the holder's PID.
class ServiceLock {
public:
    ServiceLock() = default;
    ~ServiceLock();
    ServiceLock(const ServiceLock&) = delete;
    ServiceLock& operator=(const ServiceLock&) = delete;

    // Takes the lock at path (created when missing). Refused, naming the
    // running service's PID, while another process holds it.
    Status acquire(const std::string& path);

private:
    int m_fd = -1;
};

}  // namespace fbx::shop
