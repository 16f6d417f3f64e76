#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// SHA-256 of the file's contents as 64 lower-case hex digits; the empty string on any failure.
std::string sha256File(const std::string& path);

// SHA-256 of bytes in memory (a chunk of a build), raw; absent when the digest cannot be made.
using Sha256Digest = std::array<unsigned char, 32>;
std::optional<Sha256Digest> sha256Bytes(std::string_view data);

} // namespace orvanta
