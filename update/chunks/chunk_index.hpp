#pragma once

// The chunk index: which chunks make up a build and where each lies in the build's pack file.
// Byte layout, every integer little-endian:
//
//   offset  size  field
//        0     8  magic "ORVCHUNK"
//        8     4  format version (3)
//       12     4  minimum chunk size  } the chunker's sizes: a parser accepts only its own,
//       16     4  average chunk size  } since chunks cut differently would never match an
//       20     4  maximum chunk size  } installed game's
//       24     8  build size in bytes
//       32     4  chunk count
//       36     2  pack name length N (1 to 255)
//       38     N  pack name: a file name beside the index ("Orvanta-1.4.exe.pack"), letters,
//                 digits, '.', '_', '-'; its address is the index's address with the last path
//                 segment replaced
//   then per chunk, 12 bytes, in build order:
//                 2   length in the build, less one (1 to 65,536 bytes)
//                 2   stored length in the pack, less one: equal to the length for a chunk
//                     stored raw, shorter for a zstd frame; never longer
//                 8   the first 8 bytes of the SHA-256 of the chunk's bytes in the build
//
// A chunk's place in the pack is the sum of the stored lengths before it; the build is the
// chunks' bytes in order. A digest of 8 bytes is enough: chunk digests only find pieces in the
// installed game and check pieces as they arrive, while every assembled build is checked whole
// against the manifest's SHA-256 before it is installed, so a chunk that collides (by chance,
// about once in 2^64 comparisons, or made so by whoever serves the pack) can cost a full download
// but never install wrong bytes. The index is fetched whole before every update, so each byte an
// entry saves is saved on every update of every player.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

inline constexpr std::uint32_t chunkIndexVersion = 3;
inline constexpr std::size_t chunkIndexHeaderBytes = 38;
inline constexpr std::size_t chunkIndexEntryBytes = 12;
// Larger indexes are refused unread. 64 MiB holds about 5.6 million entries: at the average
// chunk size a build of about 85 GiB, and at least about 21 GiB however the chunks fall.
inline constexpr std::size_t maxChunkIndexBytes = 64 * 1024 * 1024;

// How an index names a chunk: the first 8 bytes of its SHA-256.
using ChunkDigest = std::array<unsigned char, 8>;

// The chunk digest of bytes; absent when the SHA-256 cannot be made.
std::optional<ChunkDigest> chunkDigestOf(std::string_view bytes);

struct ChunkEntry {
    std::uint32_t length = 0;
    std::uint32_t storedLength = 0;
    ChunkDigest digest{};

    // Stored as the chunk's own bytes rather than a zstd frame.
    bool storedRaw() const { return storedLength == length; }

    friend bool operator==(const ChunkEntry&, const ChunkEntry&) = default;
};

struct ChunkIndex {
    std::uint64_t buildSize = 0;
    std::string packName;
    std::vector<ChunkEntry> chunks;

    friend bool operator==(const ChunkIndex&, const ChunkIndex&) = default;
};

// Whether name may stand in an index as its pack's name.
bool isChunkPackName(std::string_view name);

// The index's bytes. Only an index that parseChunkIndex would accept is worth writing.
std::string serializeChunkIndex(const ChunkIndex& index);

// Present exactly when bytes are a whole, consistent index of this format: the right magic,
// version and chunker sizes, a valid pack name, entries whose lengths add up to the build size,
// every chunk but the last longer than the minimum size, none empty or over the maximum, no stored
// length empty or longer than its chunk, and nothing after the last entry.
std::optional<ChunkIndex> parseChunkIndex(std::string_view bytes);

// Where each chunk starts in the pack, and the pack's total size as the last element.
std::vector<std::uint64_t> chunkPackOffsets(const ChunkIndex& index);

} // namespace orvanta
