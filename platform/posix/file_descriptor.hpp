#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unistd.h>

namespace orvanta {

// Owns a POSIX file descriptor and closes it when the scope ends, on every path.
struct FileDescriptor {
    explicit FileDescriptor(int descriptor) : fd(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }

    int fd;
};

// SHA-256 of everything in the open file fd, from its first byte, as lower-case hex; empty on
// any failure. The descriptor's position is left alone.
std::string sha256OfDescriptor(int fd);

// Reads up to size bytes of fd from offset, leaving its position alone; fewer only at the end of
// the file. Absent on an error.
std::optional<std::size_t> readAtOffset(int fd, std::uint64_t offset, char* data, std::size_t size);

} // namespace orvanta
