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

// The digest as 64 lower-case hex digits.
inline std::string digestHex(const Sha256Digest& digest) {
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const unsigned char byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

} // namespace orvanta
