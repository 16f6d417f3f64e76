#include "platform/file_digest.hpp"

#include "platform/sha256.hpp"

#include <vector>

namespace orvanta {

namespace {

constexpr std::size_t readBufferSize = 64 * 1024;

} // namespace

std::string sha256OfFile(const ReadAt& readAt) {
    Sha256 hash;
    std::vector<char> buffer(readBufferSize);
    for (std::uint64_t offset = 0;;) {
        // Positioned reads: the whole file from its start, wherever the file's position stands. A
        // read error is a failure, not an early end: a digest of part of the file would be
        // reported as the file's own.
        const std::optional<std::size_t> count = readAt(offset, buffer.data(), buffer.size());
        if (!count) {
            return {};
        }
        if (*count == 0) {
            break;
        }
        if (!hash.update(std::string_view(buffer.data(), *count))) {
            return {};
        }
        offset += *count;
    }
    const std::optional<Sha256Digest> digest = hash.finish();
    return digest ? digestHex(*digest) : std::string();
}

} // namespace orvanta
