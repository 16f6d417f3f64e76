// The version record: whatever bytes the file holds, reading it gives them without leading and
// trailing white space (space, tab, line feed, vertical tab, form feed, carriage return); a file
// over 4 KiB reads as no record.
#include "update/install.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One regular file for the whole run (the reader refuses links, so no /proc/self/fd path), in a
// folder of this run's own under the temporary folder, removed at exit. The path lives in static
// storage so the exit handler can still reach it.
std::filesystem::path recordFolder;

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

const std::filesystem::path& recordFile() {
    static const std::filesystem::path file = [] {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        // create_directory is false when the name is taken, so the folder is always a new one.
        for (int attempt = 0; attempt < 100 && recordFolder.empty(); ++attempt) {
            const std::filesystem::path folder =
                base / ("orvanta-version-record-" + std::to_string(random()));
            if (std::filesystem::create_directory(folder)) {
                recordFolder = folder;
            }
        }
        require(!recordFolder.empty());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(recordFolder, ignored);
        });
        return recordFolder / "version.txt";
    }();
    return file;
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& file = recordFile();
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        require(static_cast<bool>(out.flush()));
    }
    const std::string version = orvanta::readTrimmedFile(utf8(file));
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
