#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace orvanta {

// The contents of path when it names a regular file (not a link) of at most maxBytes; absent for
// anything else: a missing or unreadable file, a larger one, a link, a folder, a FIFO or a
// device. Never waits on a FIFO or a device.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes);

} // namespace orvanta
