#pragma once

// The chunk index: which chunks make up a build and where each lies in the build's pack file.
// Byte layout, every integer little-endian:
//
//   offset  size  field
//        0     8  magic "ORVCHUNK"
//        8     4  format version (1)
//       12     4  minimum chunk size  } the chunker's sizes: a parser accepts only its own,
//       16     4  average chunk size  } since chunks cut differently would never match an
//       20     4  maximum chunk size  } installed game's
//       24     8  build size in bytes
//       32     4  chunk count
//       36     2  pack name length N (1 to 255)
//       38     N  pack name: a file name beside the index ("Orvanta-1.4.exe.pack"), letters,
//                 digits, '.', '_', '-'; its address is the index's address with the last path
//                 segment replaced
//   then per chunk, 41 bytes, in build order:
//                 4   length in the build
//                 4   stored length in the pack
//                 1   storage: 0 a zstd frame (stored length below length), 1 raw (equal)
//                32   SHA-256 of the chunk's bytes in the build
//
// A chunk's place in the pack is the sum of the stored lengths before it; the build is the
// chunks' bytes in order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

inline constexpr std::uint32_t chunkIndexVersion = 1;
inline constexpr std::size_t chunkIndexHeaderBytes = 38;
inline constexpr std::size_t chunkIndexEntryBytes = 41;
// Larger indexes are refused unread. 64 MiB holds about 1.6 million entries: at the average
// chunk size a build of about 100 GiB, and at least about 25 GiB however the chunks fall.
inline constexpr std::size_t maxChunkIndexBytes = 64 * 1024 * 1024;

enum class ChunkStorage : std::uint8_t { zstd = 0, raw = 1 };

struct ChunkEntry {
    std::uint32_t length = 0;
    std::uint32_t storedLength = 0;
    ChunkStorage storage = ChunkStorage::zstd;
    std::array<unsigned char, 32> sha256{};

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
// every chunk but the last longer than the minimum size, none empty or over the maximum, stored
// lengths that match their storage, and nothing after the last entry.
std::optional<ChunkIndex> parseChunkIndex(std::string_view bytes);

// Where each chunk starts in the pack, and the pack's total size as the last element.
std::vector<std::uint64_t> chunkPackOffsets(const ChunkIndex& index);

} // namespace orvanta
