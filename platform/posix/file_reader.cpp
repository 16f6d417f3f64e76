#include "platform/file_reader.hpp"

#include "platform/posix/file_descriptor.hpp"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

namespace {

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

} // namespace

FileReader::~FileReader() {
    if (handle_ >= 0) {
        ::close(descriptor(handle_));
    }
}

bool FileReader::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat status {};
    if (fd < 0) {
        return false;
    }
    // A FIFO or device under the game's name would block or never end.
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    if (handle_ >= 0) {
        ::close(descriptor(handle_));
    }
    handle_ = fd;
    return true;
}

std::optional<std::uint64_t> FileReader::size() const {
    struct stat status {};
    if (!isOpen() || ::fstat(descriptor(handle_), &status) != 0 || status.st_size < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

std::optional<std::size_t> FileReader::readAt(std::uint64_t offset, char* data,
                                              std::size_t size) const {
    return isOpen() ? readAtOffset(descriptor(handle_), offset, data, size) : std::nullopt;
}

std::optional<std::size_t> readAtOffset(int fd, std::uint64_t offset, char* data,
                                        std::size_t size) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, data + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

} // namespace orvanta
