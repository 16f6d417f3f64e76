#include "support/random_bytes.hpp"
#include "update/chunks/chunker.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>

namespace orvanta {
namespace {

using test::pseudoRandomBytes;

std::vector<Chunk> chunksOf(const std::string& data) {
    return chunkBuffer({reinterpret_cast<const unsigned char*>(data.data()), data.size()});
}

std::set<std::uint64_t> endsOf(const std::vector<Chunk>& chunks) {
    std::set<std::uint64_t> ends;
    for (const Chunk& chunk : chunks) {
        ends.insert(chunk.offset + chunk.length);
    }
    return ends;
}

TEST(Chunker, GearTableIsTheFormatsOwn) {
    // Values of splitmix64 from the seed "Orvanta!", computed independently: a publisher and a
    // launcher built years apart must still cut alike.
    EXPECT_EQ(chunkGear(0), 0x30c74b160ebe452eULL);
    EXPECT_EQ(chunkGear(1), 0x8441953cde687970ULL);
    EXPECT_EQ(chunkGear(255), 0xea0b0e2c1e3361d0ULL);

    // The cuts of a fixed input, recorded once: a change to how the chunker cuts shows here.
    std::vector<std::uint32_t> lengths;
    for (const Chunk& chunk : chunksOf(pseudoRandomBytes(1 << 18, 1))) {
        lengths.push_back(chunk.length);
    }
    EXPECT_EQ(lengths,
              (std::vector<std::uint32_t>{17350, 16704, 22856, 19486, 17524, 17757, 7213, 20211,
                                          19564, 19194, 17304, 19195, 17731, 22826, 7229}));
}

TEST(Chunker, ChunksTileTheInputWithinTheSizeLimits) {
    struct Case {
        const char* name;
        std::string data;
    };
    const Case cases[] = {
        {"random", pseudoRandomBytes(6 << 20, 1)},
        {"zeros", std::string(1 << 20, '\0')},
        {"short", pseudoRandomBytes(100, 2)},
        {"just over the minimum", pseudoRandomBytes(chunkMinSize + 1, 3)},
        {"empty", std::string()},
    };
    for (const Case& c : cases) {
        const std::vector<Chunk> chunks = chunksOf(c.data);
        std::uint64_t next = 0;
        for (std::size_t i = 0; i < chunks.size(); ++i) {
            EXPECT_EQ(chunks[i].offset, next) << c.name << " chunk " << i;
            EXPECT_LE(chunks[i].length, chunkMaxSize) << c.name << " chunk " << i;
            EXPECT_GT(chunks[i].length, i + 1 < chunks.size() ? chunkMinSize : 0u)
                << c.name << " chunk " << i;
            next += chunks[i].length;
        }
        EXPECT_EQ(next, c.data.size()) << c.name;
    }
}

TEST(Chunker, RandomDataAveragesNearTheAverageSize) {
    const std::vector<Chunk> chunks = chunksOf(pseudoRandomBytes(16 << 20, 4));
    const std::size_t mean = (16u << 20) / chunks.size();
    EXPECT_GT(mean, chunkAverageSize / 2);
    EXPECT_LT(mean, chunkAverageSize * 2);
}

TEST(Chunker, BlockSizesDoNotChangeTheCuts) {
    const std::string data = pseudoRandomBytes(3 << 20, 5);
    const std::vector<Chunk> whole = chunksOf(data);
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096},
                                    std::size_t{chunkMinSize}, std::size_t{65537}}) {
        Chunker chunker;
        std::vector<Chunk> cuts;
        const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
        for (std::size_t at = 0; at < data.size(); at += block) {
            chunker.feed({bytes + at, std::min(block, data.size() - at)}, cuts);
        }
        if (const auto last = chunker.finish()) {
            cuts.push_back(*last);
        }
        EXPECT_EQ(cuts, whole) << "blocks of " << block;
        // finish() starts over: the same stream cuts the same way again.
        chunker.feed({bytes, data.size()}, cuts);
        EXPECT_EQ(cuts.size(), 2 * whole.size() - 1) << "blocks of " << block;
    }
}

TEST(Chunker, AnEditMovesOnlyNearbyBoundaries) {
    const std::string original = pseudoRandomBytes(4 << 20, 6);
    const std::set<std::uint64_t> before = endsOf(chunksOf(original));
    struct Case {
        const char* name;
        std::size_t at;
        std::size_t removed;
        std::string inserted;
    };
    const Case cases[] = {
        {"insertion", 1'500'000, 0, pseudoRandomBytes(1000, 7)},
        {"deletion", 2'700'000, 777, {}},
        {"one byte changed", 600'000, 1, "x"},
        {"insertion at the start", 0, 0, "header"},
    };
    for (const Case& c : cases) {
        std::string edited = original;
        edited.replace(c.at, c.removed, c.inserted);
        const auto shift =
            static_cast<std::int64_t>(c.inserted.size()) - static_cast<std::int64_t>(c.removed);
        const std::set<std::uint64_t> after = endsOf(chunksOf(edited));
        // Boundaries before the edit stay; after it, they come back (shifted) within a couple of
        // maximum-size chunks.
        const std::uint64_t settled = c.at + c.removed + 2 * chunkMaxSize;
        std::size_t moved = 0;
        for (const std::uint64_t end : before) {
            if (end <= c.at) {
                EXPECT_TRUE(after.count(end)) << c.name << ": lost the boundary at " << end;
            } else if (end > settled) {
                EXPECT_TRUE(
                    after.count(static_cast<std::uint64_t>(static_cast<std::int64_t>(end) + shift)))
                    << c.name << ": lost the boundary at " << end;
            } else {
                moved += after.count(static_cast<std::uint64_t>(static_cast<std::int64_t>(end) +
                                                                shift)) == 0;
            }
        }
        // Random data resynchronises at the first boundary after the edit.
        EXPECT_LE(moved, 1u) << c.name;
    }
}

} // namespace
} // namespace orvanta
