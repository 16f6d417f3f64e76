#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace orvanta {
namespace {

ChunkEntry entry(std::uint32_t length, std::uint32_t stored, unsigned char fill) {
    ChunkEntry e;
    e.length = length;
    e.storedLength = stored;
    e.digest.fill(fill);
    return e;
}

ChunkIndex sampleIndex() {
    ChunkIndex index;
    index.packName = "Orvanta-1.4.pack";
    index.chunks = {entry(chunkMaxSize, 1000, 0xA1),
                    entry(chunkMinSize + 1, chunkMinSize + 1, 0xB2), entry(5, 5, 0xC3)};
    index.buildSize = chunkMaxSize + chunkMinSize + 1 + 5;
    return index;
}

void putLittleEndian(std::string& bytes, std::size_t at, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

TEST(ChunkIndex, RoundTripsWithTheDocumentedLayout) {
    const ChunkIndex index = sampleIndex();
    const std::string bytes = serializeChunkIndex(index);
    // A 38-byte header, the name, then 12 bytes a chunk.
    ASSERT_EQ(bytes.size(), 38u + 16 + 3 * 12);
    EXPECT_EQ(bytes.substr(0, 12), std::string("ORVCHUNK\x03\0\0\0", 12));
    // The minimum size 4096 = 0x1000, little-endian.
    EXPECT_EQ(bytes.substr(12, 4), std::string("\0\x10\0\0", 4));
    EXPECT_EQ(bytes.substr(38, 16), "Orvanta-1.4.pack");
    // The first chunk: length 65,536 and stored length 1000, each less one; then 8 digest bytes.
    EXPECT_EQ(bytes.substr(54, 12), std::string("\xFF\xFF\xE7\x03", 4) + std::string(8, '\xA1'));
    // The second: length and stored length 4097 = 0x1001, less one.
    EXPECT_EQ(bytes.substr(54 + 12, 12), std::string("\0\x10\0\x10", 4) + std::string(8, '\xB2'));
    EXPECT_EQ(parseChunkIndex(bytes), index);
    EXPECT_EQ(chunkPackOffsets(index), (std::vector<std::uint64_t>{0, 1000, 1000 + chunkMinSize + 1,
                                                                   1000 + chunkMinSize + 1 + 5}));

    ChunkIndex empty;
    empty.packName = "p";
    EXPECT_EQ(parseChunkIndex(serializeChunkIndex(empty)), empty);
}

TEST(ChunkIndex, RefusesWhatIsNotAWholeConsistentIndex) {
    const std::string good = serializeChunkIndex(sampleIndex());
    const std::size_t first = chunkIndexHeaderBytes + 16; // the first entry
    const std::size_t last = first + 2 * chunkIndexEntryBytes;
    auto changedIndex = [](const std::function<void(ChunkIndex&)>& change) {
        ChunkIndex index = sampleIndex();
        change(index);
        return serializeChunkIndex(index);
    };
    auto patched = [&good](std::size_t at, std::uint32_t value, std::size_t width = 4) {
        std::string bytes = good;
        putLittleEndian(bytes, at, value, width);
        return bytes;
    };
    struct Case {
        const char* name;
        std::string bytes;
    };
    // An empty chunk, one over the maximum and an empty frame cannot be written in the layout.
    const Case cases[] = {
        {"empty", ""},
        {"wrong magic", "ORVCHUNQ" + good.substr(8)},
        {"newer version", patched(8, 4)},
        {"format 1", patched(8, 1)},
        {"format 2", patched(8, 2)},
        {"other minimum size", patched(12, chunkMinSize * 2)},
        {"other average size", patched(16, chunkAverageSize / 2)},
        {"other maximum size", patched(20, chunkMaxSize * 2)},
        {"header cut short", good.substr(0, 30)},
        {"pack name cut short", good.substr(0, chunkIndexHeaderBytes + 5)},
        {"last entry cut short", good.substr(0, good.size() - 1)},
        {"a byte after the last entry", good + '\0'},
        {"a whole entry after the last", good + good.substr(last)},
        {"count above the entries", patched(32, 4)},
        {"count below the entries", patched(32, 2)},
        {"build size too large", changedIndex([](ChunkIndex& i) { ++i.buildSize; })},
        {"build size too small", changedIndex([](ChunkIndex& i) { --i.buildSize; })},
        {"short chunk before the last", changedIndex([](ChunkIndex& i) {
             i.chunks[1] = entry(chunkMinSize, chunkMinSize, 0);
             --i.buildSize;
         })},
        {"short chunk stored longer", patched(last + 2, 5, 2)},
        {"stored longer than its chunk", patched(first + 12 + 2, chunkMinSize + 1, 2)},
        {"no pack name", changedIndex([](ChunkIndex& i) { i.packName.clear(); })},
        {"pack in another folder", changedIndex([](ChunkIndex& i) { i.packName = "../x.pack"; })},
        {"hidden pack name", changedIndex([](ChunkIndex& i) { i.packName = ".pack"; })},
        {"pack address with a query", changedIndex([](ChunkIndex& i) { i.packName = "p?x"; })},
        {"over the size cap", good + std::string(maxChunkIndexBytes, '\0')},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(parseChunkIndex(c.bytes).has_value()) << c.name;
    }
}

} // namespace
} // namespace orvanta
