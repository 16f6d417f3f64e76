#include "platform/staged_file.hpp"

#include "platform/posix/file_descriptor.hpp"
#include "platform/posix/file_sync.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

namespace {

int descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// Holds the open file exclusively for as long as it is open; false, with busy set, when another
// open file holds it. A file system that keeps no locks is written without one, as the folder
// lock does.
bool holdExclusively(int fd, bool& busy) {
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    busy = result != 0 && errno == EWOULDBLOCK;
    return !busy;
}

// Written data is handed to the disk every this many bytes instead of all at the flush: the disk
// then works while the file is still being made, and the flush waits only for the rest.
constexpr std::uint64_t writebackBytes = 8 << 20;

} // namespace

StagedFile::~StagedFile() {
    close();
}

bool StagedFile::create(const std::string& path) {
    close();
    busy_ = false;
    // O_EXCL refuses any existing name, a dangling or planted link included.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        return false;
    }
    // Another launcher that opened the new file first owns it; it is left to that one.
    if (!holdExclusively(fd, busy_)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    path_ = path;
    return true;
}

bool StagedFile::resume(const std::string& path) {
    close();
    busy_ = false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    // A second name would make the writes land in some other file as well.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
        !holdExclusively(fd, busy_)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    path_ = path;
    return true;
}

std::optional<std::size_t> StagedFile::readAt(std::uint64_t offset, char* data,
                                              std::size_t size) const {
    return isOpen() ? readAtOffset(descriptor(handle_), offset, data, size) : std::nullopt;
}

std::optional<std::uint64_t> StagedFile::size() const {
    struct stat status {};
    if (!isOpen() || ::fstat(descriptor(handle_), &status) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

bool StagedFile::truncate(std::uint64_t size) {
    if (!isOpen() || size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    const auto length = static_cast<off_t>(size);
    return ::ftruncate(descriptor(handle_), length) == 0 &&
           ::lseek(descriptor(handle_), length, SEEK_SET) == length;
}

bool StagedFile::write(const char* data, std::size_t size) {
    if (!isOpen() || !writeAll(descriptor(handle_), data, size)) {
        return false;
    }
    unflushed_ += size;
    if (unflushed_ >= writebackBytes) {
        // Only starts the writing; a failure here shows at the flush.
        ::sync_file_range(descriptor(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
        unflushed_ = 0;
    }
    return true;
}

std::string StagedFile::sha256() const {
    return isOpen() ? sha256OfDescriptor(descriptor(handle_)) : std::string();
}

bool StagedFile::makeExecutable() {
    return isOpen() && ::fchmod(descriptor(handle_), 0755) == 0;
}

bool StagedFile::flush() {
    return isOpen() && ::fsync(descriptor(handle_)) == 0;
}

bool StagedFile::nameStillRefersToFile() const {
    struct stat opened {};
    struct stat named {};
    return ::fstat(descriptor(handle_), &opened) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
           S_ISREG(named.st_mode) && opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool StagedFile::moveTo(const std::string& target) {
    if (!isOpen() || !nameStillRefersToFile() || std::rename(path_.c_str(), target.c_str()) != 0) {
        return false;
    }
    close();
    // The rename itself reaches the disk only with the folder's entries.
    flushDirectory(std::filesystem::path(target).parent_path().string());
    return true;
}

void StagedFile::discard() {
    if (isOpen() && nameStillRefersToFile()) {
        ::unlink(path_.c_str());
    }
    close();
}

void StagedFile::close() {
    if (handle_ >= 0) {
        ::close(descriptor(handle_));
    }
    handle_ = -1;
    path_.clear();
}

} // namespace orvanta
