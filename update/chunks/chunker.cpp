#include "update/chunks/chunker.hpp"

#include <algorithm>
#include <array>
#include <utility>

namespace orvanta {

namespace {

constexpr std::array<std::uint64_t, 256> makeGearTable() {
    std::array<std::uint64_t, 256> table{};
    std::uint64_t state = 0x4F7276616E746121; // "Orvanta!"
    for (std::uint64_t& value : table) {
        state += 0x9E3779B97F4A7C15;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        value = z ^ (z >> 31);
    }
    return table;
}

constexpr std::array<std::uint64_t, 256> gearTable = makeGearTable();

} // namespace

std::uint64_t chunkGear(unsigned char byte) {
    return gearTable[byte];
}

namespace {

// Rolls the hash over up to size bytes and stops after the first whose hash passes mask; returns
// the bytes taken and whether the last of them ends a chunk. A fixed mask keeps the loop tight.
std::pair<std::size_t, bool> scanForBoundary(const unsigned char* data, std::size_t size,
                                             std::uint64_t mask, std::uint64_t& hash) {
    std::uint64_t h = hash;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h << 1) + gearTable[data[i]];
        if ((h & mask) == 0) {
            hash = h;
            return {i + 1, true};
        }
    }
    hash = h;
    return {size, false};
}

} // namespace

void Chunker::feed(std::span<const unsigned char> data, std::vector<Chunk>& cuts) {
    std::size_t position = 0;
    while (position < data.size()) {
        const std::size_t available = data.size() - position;
        if (length_ < chunkMinSize) {
            // No boundary can fall in a chunk's first bytes, so they are not hashed at all.
            const std::size_t skip = std::min<std::size_t>(chunkMinSize - length_, available);
            length_ += static_cast<std::uint32_t>(skip);
            position += skip;
            continue;
        }
        // Up to the average length the strict mask applies, after it the loose one.
        const bool strict = length_ < chunkAverageSize;
        const std::size_t stretch =
            std::min<std::size_t>((strict ? chunkAverageSize : chunkMaxSize) - length_, available);
        const auto [taken, boundary] = scanForBoundary(
            data.data() + position, stretch, strict ? chunkMaskStrict : chunkMaskLoose, hash_);
        length_ += static_cast<std::uint32_t>(taken);
        position += taken;
        if (boundary || length_ == chunkMaxSize) {
            cuts.push_back({offset_, length_});
            offset_ += length_;
            length_ = 0;
            hash_ = 0;
        }
    }
}

std::optional<Chunk> Chunker::finish() {
    std::optional<Chunk> last;
    if (length_ > 0) {
        last = Chunk{offset_, length_};
    }
    *this = Chunker();
    return last;
}

std::vector<Chunk> chunkBuffer(std::span<const unsigned char> data) {
    Chunker chunker;
    std::vector<Chunk> chunks;
    chunker.feed(data, chunks);
    if (const auto last = chunker.finish()) {
        chunks.push_back(*last);
    }
    return chunks;
}

} // namespace orvanta
