#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orvanta {

// A new file written beside the place it is meant for and then moved there. Everything is done
// through the handle this object created: it is hashed and flushed through that handle, and it
// is only moved into place while its name still refers to it, so a file or link someone else puts
// under the same name is never the one installed. While open, the file is held exclusively (an
// flock on POSIX, share modes on Windows): a second launcher cannot write into it as well.
class StagedFile {
  public:
    StagedFile() = default;
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Creates path as a new, empty file (mode 0644), never through a link: false when anything
    // already exists under that name or it cannot be created.
    bool create(const std::string& path);
    // Opens path, an existing regular file with no other name (never a link or a folder), to
    // read it and then write on from a chosen length: false otherwise.
    bool resume(const std::string& path);
    // After a failed create or resume: whether another process holds the file open for writing.
    bool busy() const { return busy_; }
    bool isOpen() const { return handle_ >= 0; }
    // The file's length; absent when it cannot be read.
    std::optional<std::uint64_t> size() const;
    // Reads up to size bytes from offset; fewer only at the end. Absent on an error. A write
    // after a read needs truncate first to place it.
    std::optional<std::size_t> readAt(std::uint64_t offset, char* data, std::size_t size) const;
    // Cuts the file to size bytes; later writes append from there.
    bool truncate(std::uint64_t size);
    // Appends; false on any write error.
    bool write(const char* data, std::size_t size);
    // SHA-256 of the whole file as written, as lower-case hex; empty on any failure.
    std::string sha256() const;
    // Mode 0755.
    bool makeExecutable();
    // Flushes the contents to disk.
    bool flush();
    // Renames the file over target (replacing it atomically, the rename flushed to disk) and
    // closes it; false, with nothing
    // moved and the file still open, when its name no longer refers to it or the rename fails.
    bool moveTo(const std::string& target);
    // Removes the file when its name still refers to it, and closes it.
    void discard();
    // Closes the file and leaves it where it is.
    void keep() { close(); }

  private:
    void close();
    bool nameStillRefersToFile() const;

    std::string path_;
    std::intptr_t handle_ = -1;   // a file descriptor, or a Windows handle
    std::uint64_t unflushed_ = 0; // bytes written since the disk was last asked to take them
    bool busy_ = false;
};

} // namespace orvanta
