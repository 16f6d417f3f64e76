#include "publish/channel_lock.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace orvanta::publish {

ChannelLock::~ChannelLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string ChannelLock::acquire(const std::string& channelDirectory) {
    const std::string path = channelDirectory + "/" + lockFileName;
    // Never through a link: the lock file is ours to create, nobody else's file to lock.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0644);
    if (fd < 0) {
        return "cannot open the lock file " + path + ": " + std::strerror(errno);
    }
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int code = errno;
        ::close(fd);
        return "cannot lock " + path + ": " + std::strerror(code);
    }
    fd_ = fd;
    return {};
}

} // namespace orvanta::publish
