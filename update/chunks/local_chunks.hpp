#pragma once

#include "update/chunks/chunk_index.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace orvanta {

struct DigestHash {
    std::size_t operator()(const ChunkDigest& digest) const;
};

// Where a chunk lies in a file on the disk.
struct ChunkPlace {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;
};

using LocalChunks = std::unordered_map<ChunkDigest, ChunkPlace, DigestHash>;

// A file of at least this many bytes is cut by two threads, one from its middle on.
inline constexpr std::uint64_t localChunksSplitBytes = 32 << 20;

// Cuts the file at path with the chunker and returns the place of every chunk the index lists
// from entry first on. A file that cannot be read to its end gives what was found before the
// fault. Only chunks of a length the index lists are hashed. Absent when the second thread failed
// (out of memory, say): nothing is known then, which is not the same as no chunk found. What the
// calling thread throws reaches the caller once the second thread has ended.
std::optional<LocalChunks> findLocalChunks(const std::string& path, const ChunkIndex& index,
                                           std::size_t first,
                                           std::uint64_t splitBytes = localChunksSplitBytes);

} // namespace orvanta
