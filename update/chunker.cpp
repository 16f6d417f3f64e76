#include "update/chunker.hpp"

#include <algorithm>
#include <array>

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

void Chunker::feed(std::span<const unsigned char> data, std::vector<Chunk>& cuts) {
    std::size_t position = 0;
    while (position < data.size()) {
        if (length_ < chunkMinSize) {
            // No boundary can fall in a chunk's first bytes, so they are not hashed at all.
            const std::size_t skip =
                std::min<std::size_t>(chunkMinSize - length_, data.size() - position);
            length_ += static_cast<std::uint32_t>(skip);
            position += skip;
            continue;
        }
        const unsigned char byte = data[position++];
        hash_ = (hash_ << 1) + gearTable[byte];
        ++length_;
        const std::uint64_t mask = length_ <= chunkAverageSize ? chunkMaskStrict : chunkMaskLoose;
        if ((hash_ & mask) == 0 || length_ == chunkMaxSize) {
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
