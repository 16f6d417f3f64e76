#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace orvanta {

// Reads a regular file at chosen offsets, others being free to read it at the same time (the game
// may be running while its next build is assembled from it).
class FileReader {
  public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // False when path cannot be opened or is not a regular file.
    bool open(const std::string& path);
    bool isOpen() const { return handle_ >= 0; }
    // The file's length; absent when it cannot be read.
    std::optional<std::uint64_t> size() const;
    // Reads up to size bytes from offset; fewer only at the end of the file. Absent on an error.
    std::optional<std::size_t> readAt(std::uint64_t offset, char* data, std::size_t size) const;

  private:
    std::intptr_t handle_ = -1; // a file descriptor, or a Windows handle
};

} // namespace orvanta
