#include "update/local_chunks.hpp"

#include "platform/file_reader.hpp"
#include "update/chunker.hpp"

#include <cstring>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace orvanta {

namespace {

constexpr std::size_t readBlockBytes = 1 << 20;

} // namespace

std::size_t DigestHash::operator()(const ChunkDigest& digest) const {
    // A digest's bytes are already evenly spread.
    std::size_t value = 0;
    std::memcpy(&value, digest.data(), sizeof value);
    return value;
}

LocalChunks findLocalChunks(const std::string& path, const ChunkIndex& index, std::size_t first) {
    LocalChunks wanted;
    std::unordered_set<std::uint32_t> lengths;
    for (std::size_t i = first; i < index.chunks.size(); ++i) {
        wanted.emplace(index.chunks[i].digest, ChunkPlace{});
        lengths.insert(index.chunks[i].length);
    }
    LocalChunks found;
    FileReader file;
    if (wanted.empty() || !file.open(path)) {
        return found;
    }
    const auto keep = [&](const Chunk& cut, std::string_view bytes) {
        if (!lengths.contains(cut.length)) {
            return;
        }
        const std::optional<ChunkDigest> digest = chunkDigestOf(bytes);
        if (digest && wanted.contains(*digest)) {
            found.try_emplace(*digest, ChunkPlace{cut.offset, cut.length});
        }
    };

    // pending holds the bytes from the start of the chunk being cut on: at most a chunk and a
    // block.
    Chunker chunker;
    std::vector<Chunk> cuts;
    std::string pending;
    std::uint64_t pendingStart = 0;
    std::string block(readBlockBytes, '\0');
    for (std::uint64_t offset = 0;;) {
        const std::optional<std::size_t> got = file.readAt(offset, block.data(), block.size());
        if (!got || *got == 0) {
            break;
        }
        offset += *got;
        pending.append(block.data(), *got);
        cuts.clear();
        chunker.feed(std::span(reinterpret_cast<const unsigned char*>(block.data()), *got), cuts);
        std::size_t used = 0;
        for (const Chunk& cut : cuts) {
            keep(cut, std::string_view(pending).substr(cut.offset - pendingStart, cut.length));
            used = static_cast<std::size_t>(cut.offset - pendingStart) + cut.length;
        }
        pending.erase(0, used);
        pendingStart += used;
    }
    if (const std::optional<Chunk> last = chunker.finish()) {
        keep(*last, std::string_view(pending).substr(0, last->length));
    }
    return found;
}

} // namespace orvanta
