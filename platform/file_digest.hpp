#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orvanta {

// Reads up to size bytes of an open file from offset; fewer only at its end. Absent on an error.
using ReadAt =
    std::function<std::optional<std::size_t>(std::uint64_t offset, char* data, std::size_t size)>;

// SHA-256 of a whole open file, read through readAt from its first byte to its end, as lower-case
// hex; empty on any failure. Each platform supplies its own positioned read.
std::string sha256OfFile(const ReadAt& readAt);

} // namespace orvanta
