// The chunker must cut exactly as the format's FastCDC does, however the stream is fed. The
// reference below follows the published algorithm step by step, with its own gear table and
// masks spelled out, one chunk at a time over the whole buffer; the chunker under test is fed in
// blocks of a size the input chooses.
//
// Inputs are at most 64 KiB, no more than one maximum-size chunk, so an input longer than three
// bytes describes a stream, long enough for many chunks of every size: bytes 0-1 its length in
// 16-byte units (up to 1 MiB), byte 2 the block size, the rest a pattern repeated, each repetition
// changed a little.
#include "update/chunks/chunker.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr std::size_t minimumSize = 4096;
constexpr std::size_t averageSize = 16384;
constexpr std::size_t maximumSize = 65536;
constexpr std::uint64_t strictMask = 0xFFFF000000000000; // top 16 bits
constexpr std::uint64_t looseMask = 0xFFF0000000000000;  // top 12 bits

std::array<std::uint64_t, 256> referenceGear() {
    std::array<std::uint64_t, 256> gear{};
    std::uint64_t seed = 0x4F7276616E746121;
    for (std::size_t i = 0; i < gear.size(); ++i) {
        seed += 0x9E3779B97F4A7C15;
        std::uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        gear[i] = z ^ (z >> 31);
    }
    return gear;
}

// The length of the chunk that starts the n bytes at src.
std::size_t cutPoint(const std::uint8_t* src, std::size_t n) {
    static const std::array<std::uint64_t, 256> gear = referenceGear();
    if (n <= minimumSize) {
        return n;
    }
    const std::size_t limit = std::min(n, maximumSize);
    const std::size_t normal = std::min(limit, averageSize);
    std::uint64_t fp = 0;
    std::size_t i = minimumSize;
    for (; i < normal; ++i) {
        fp = (fp << 1) + gear[src[i]];
        if ((fp & strictMask) == 0) {
            return i + 1;
        }
    }
    for (; i < limit; ++i) {
        fp = (fp << 1) + gear[src[i]];
        if ((fp & looseMask) == 0) {
            return i + 1;
        }
    }
    return limit;
}

std::vector<orvanta::Chunk> referenceChunks(const std::vector<std::uint8_t>& data) {
    std::vector<orvanta::Chunk> chunks;
    std::size_t offset = 0;
    while (offset < data.size()) {
        const std::size_t length = cutPoint(data.data() + offset, data.size() - offset);
        chunks.push_back({offset, static_cast<std::uint32_t>(length)});
        offset += length;
    }
    return chunks;
}

std::vector<orvanta::Chunk> streamedChunks(const std::vector<std::uint8_t>& data,
                                           std::size_t block) {
    orvanta::Chunker chunker;
    std::vector<orvanta::Chunk> chunks;
    for (std::size_t at = 0; at < data.size(); at += block) {
        chunker.feed(std::span(data).subspan(at, std::min(block, data.size() - at)), chunks);
    }
    if (const auto last = chunker.finish()) {
        chunks.push_back(*last);
    }
    return chunks;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const std::vector<std::uint8_t> plain(input, input + size);
    require(orvanta::chunkBuffer(plain) == referenceChunks(plain));
    if (size <= 3) {
        return 0;
    }
    const std::size_t length = (std::size_t{input[0]} | std::size_t{input[1]} << 8) * 16;
    const std::size_t block = 1 + std::size_t{input[2]} * 613;
    const std::span<const std::uint8_t> pattern(input + 3, size - 3);
    std::vector<std::uint8_t> stream(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t round = i / pattern.size();
        stream[i] = static_cast<std::uint8_t>(pattern[i % pattern.size()] ^ (round * 131));
    }
    require(streamedChunks(stream, block) == referenceChunks(stream));
    return 0;
}
