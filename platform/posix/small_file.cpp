#include "platform/small_file.hpp"

#include "platform/posix/file_descriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; what is not a regular file is
    // turned away before anything is read.
    FileDescriptor file{
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        return std::nullopt;
    }
    // Read one byte past the limit, in case the file grew since fstat.
    std::string text(maxBytes + 1, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t count = ::read(file.fd, text.data() + length, text.size() - length);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        length += static_cast<std::size_t>(count);
    }
    if (length > maxBytes) {
        return std::nullopt;
    }
    text.resize(length);
    return text;
}

} // namespace orvanta
