#pragma once

#include <cstddef>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace orvanta {

// The contents of path when it names a regular file (not a link) of at most maxBytes; absent for
// anything else: a missing or unreadable file, a larger one, a link, a folder, a FIFO or a
// device. Never waits on a FIFO or a device.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes);

// The lines of a record file's text, empty ones left out.
inline std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

} // namespace orvanta
