#include "platform/folder_lock.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvanta {

FolderLock::~FolderLock() {
    release();
}

FolderLockResult FolderLock::acquire(const std::string& folder) {
    if (held()) {
        return FolderLockResult::Held;
    }
    // The folder itself carries the lock, so no lock file is left in it.
    const int fd = ::open(folder.empty() ? "." : folder.c_str(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return FolderLockResult::Unavailable;
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        handle_ = fd;
        return FolderLockResult::Held;
    }
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? FolderLockResult::HeldElsewhere : FolderLockResult::Unavailable;
}

void FolderLock::release() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
    handle_ = -1;
}

} // namespace orvanta
