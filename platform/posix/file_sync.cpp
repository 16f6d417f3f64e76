#include "platform/posix/file_sync.hpp"

#include "platform/posix/file_descriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace orvanta {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void flushDirectory(const std::string& directory) {
    FileDescriptor folder{
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0) {
        ::fsync(folder.fd);
    }
}

} // namespace orvanta
