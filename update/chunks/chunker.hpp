#pragma once

// Content-defined chunking (FastCDC: a gear hash with normalised chunking). The publisher cuts a
// build with it and the launcher cuts the installed game with it, so both must cut identically
// for as long as chunk indexes exist: the sizes, masks and gear table below are part of the
// chunk format and never change without a new format version.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvanta {

// No chunk but a build's last is this short or shorter; the hash only starts after these bytes.
inline constexpr std::uint32_t chunkMinSize = 4 * 1024;
// Up to this length the stricter mask applies, after it the looser one.
inline constexpr std::uint32_t chunkAverageSize = 16 * 1024;
// A chunk that has found no boundary by this length is cut here.
inline constexpr std::uint32_t chunkMaxSize = 64 * 1024;

// The boundary test is "(hash & mask) == 0". The masks take the hash's top bits, which depend on
// the last 64 bytes; two more bits than log2(average) below the average (16), two fewer above it
// (12), which keeps chunk sizes close to the average.
inline constexpr std::uint64_t chunkMaskStrict = ~std::uint64_t{0} << (64 - 16);
inline constexpr std::uint64_t chunkMaskLoose = ~std::uint64_t{0} << (64 - 12);

// The gear table: 256 values of splitmix64 from the seed 0x4F7276616E746121 ("Orvanta!"),
// computed at compile time so no listed constant can be mistyped.
std::uint64_t chunkGear(unsigned char byte);

// A piece of the input, by its place in the whole stream.
struct Chunk {
    std::uint64_t offset = 0;
    std::uint32_t length = 0;

    friend bool operator==(const Chunk&, const Chunk&) = default;
};

// Cuts a stream fed in blocks of any size; where the blocks end does not change the cuts. Only
// the hash and the current chunk's length are kept, never the data.
class Chunker {
  public:
    // Appends to cuts every chunk that ends inside data.
    void feed(std::span<const unsigned char> data, std::vector<Chunk>& cuts);
    // The stream's last chunk, which may be shorter than the minimum; absent when nothing is
    // left. The chunker then starts a new stream.
    std::optional<Chunk> finish();

  private:
    std::uint64_t offset_ = 0; // where the current chunk starts in the stream
    std::uint32_t length_ = 0; // bytes of the current chunk seen so far
    std::uint64_t hash_ = 0;
};

// Every chunk of a whole buffer, in order.
std::vector<Chunk> chunkBuffer(std::span<const unsigned char> data);

} // namespace orvanta
