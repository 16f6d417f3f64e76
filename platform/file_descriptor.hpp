#pragma once

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

} // namespace orvanta
