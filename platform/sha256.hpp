#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

// SHA-256 of the file's contents as 64 lower-case hex digits; the empty string on any failure.
std::string sha256File(const std::string& path);

// SHA-256 of bytes in memory (a chunk of a build), raw; absent when the digest cannot be made.
using Sha256Digest = std::array<unsigned char, 32>;
std::optional<Sha256Digest> sha256Bytes(std::string_view data);

// SHA-256 of bytes given piece by piece, such as a file while it is written.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once the digest cannot be made; nothing given after that counts.
    bool update(std::string_view data);
    // The digest of everything given, once; absent after any failure.
    std::optional<Sha256Digest> finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

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
