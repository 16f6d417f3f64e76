#pragma once

// The chunk files of a build, beside its full file: the pack (each chunk compressed on its own
// with zstd, or raw when that would not make it smaller) and the index that lists the chunks and
// names the pack. A launcher that already holds most of a build fetches only the chunks it lacks.
#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta::publish {

// Measured on 12 MB of shared libraries cut into 64 KiB pieces: level 15 stores them in 34% of
// their size at about 10 MB/s; 19 gains one percent more at a sixth of the speed, and 12 and
// below stay above 36%. In 16 KiB pieces the levels lie closer (another 12 MB of libraries:
// 41.6% at 12, 41.3% at 15, 41.2% at 19, against 39.5% at 15 in 64 KiB pieces).
inline constexpr int chunkCompressionLevel = 15;

inline constexpr const char* chunkPackExtension = ".pack";
inline constexpr const char* chunkIndexExtension = ".chunks";

struct ChunkFiles {
    std::string packName;    // "Orvanta-<version>-<digest>.pack", as the index names it
    std::string indexName;   // "Orvanta-<version>-<digest>.chunks"
    std::string indexSha256; // of the index file, lower-case hex
    std::uint64_t packBytes = 0;
    std::size_t chunkCount = 0;
    std::string error;
};

// Cuts the game file into chunks and writes the pack, then the index, into directory under
// their digest names (the stem gameFileStem(version)), each through a temporary file renamed
// into place; a file already there with the same contents is left as it is. The game file is
// read once, block by block.
ChunkFiles publishChunkFiles(const std::string& gamePath, const std::string& directory,
                             const std::string& version);

// Why the index and pack in directory do not rebuild gamePath exactly (every chunk
// decompressed, its digest checked and compared with the game's bytes, nothing left over in
// either file); the empty string when they do.
std::string checkChunkFiles(const std::string& gamePath, const std::string& directory,
                            const std::string& indexName);

} // namespace orvanta::publish
