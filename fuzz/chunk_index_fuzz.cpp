// The chunk index a launcher fetches from the network. Any bytes must give an index or nothing,
// without a crash; an index that parses must be the only spelling of itself (writing it again
// gives the same bytes) and must hold together: its chunks add up to the build, and the pack
// offsets run in order.
#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto index = orvanta::parseChunkIndex(bytes);
    if (!index) {
        return 0;
    }
    require(orvanta::serializeChunkIndex(*index) == bytes);
    std::uint64_t total = 0;
    for (const orvanta::ChunkEntry& entry : index->chunks) {
        require(entry.length > 0 && entry.length <= orvanta::chunkMaxSize);
        require(entry.storedLength > 0 && entry.storedLength <= entry.length);
        total += entry.length;
    }
    require(total == index->buildSize);
    const auto offsets = orvanta::chunkPackOffsets(*index);
    require(offsets.size() == index->chunks.size() + 1 && offsets.front() == 0);
    for (std::size_t i = 0; i < index->chunks.size(); ++i) {
        require(offsets[i + 1] - offsets[i] == index->chunks[i].storedLength);
    }
    return 0;
}
