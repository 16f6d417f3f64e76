#pragma once

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

} // namespace orvanta
