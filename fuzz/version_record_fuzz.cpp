// The version record: whatever bytes the file holds, reading it gives them without leading and
// trailing white space (space, tab, line feed, vertical tab, form feed, carriage return); a file
// over 4 KiB reads as no record.
#include "update/install.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One regular file for the whole run (the reader refuses links, so no /proc/self/fd path). The
// name lives in static storage so the exit handler can still remove it.
char recordPath[] = "/tmp/orvanta-version-record-XXXXXX";

int recordFile() {
    static const int fd = [] {
        const int made = mkstemp(recordPath);
        require(made >= 0);
        std::atexit([] { unlink(recordPath); });
        return made;
    }();
    return fd;
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = recordFile();
    require(ftruncate(fd, 0) == 0);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        require(n > 0);
        written += static_cast<std::size_t>(n);
    }
    const std::string version = orvanta::readTrimmedFile(recordPath);
    if (size > 4096) {
        require(version.empty());
        return 0;
    }

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::size_t first = 0;
    while (first < bytes.size() && isWhiteSpace(bytes[first])) {
        ++first;
    }
    std::size_t last = bytes.size();
    while (last > first && isWhiteSpace(bytes[last - 1])) {
        --last;
    }
    require(version == bytes.substr(first, last - first));
    return 0;
}
