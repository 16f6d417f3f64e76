// The chunk files a publication writes beside the game, read back independently of the writer.

#include "platform/sha256.hpp"
#include "publish_fixture.hpp"
#include "support/random_bytes.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"

#include <algorithm>
#include <gtest/gtest.h>
#include <zstd.h>

namespace orvanta::publish {
namespace {

using test::pseudoRandomBytes;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Lines that differ a little from each other: compressible, as code and data mostly are.
std::string compressibleText(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) {
        text += "crop " + std::to_string(line * 7919 % 1000) + " grows in field " +
                std::to_string(line % 17) + "\n";
    }
    text.resize(size);
    return text;
}

// The build as a launcher would put it together from the index and the pack.
struct Rebuilt {
    std::string build;
    std::size_t zstdChunks = 0;
    std::size_t rawChunks = 0;
    std::string problem;
};

Rebuilt rebuildFromChunks(const std::string& channel, const ChunkIndex& index) {
    Rebuilt result;
    const std::string pack = readFile(channel + "/" + index.packName);
    const std::vector<std::uint64_t> offsets = chunkPackOffsets(index);
    if (offsets.back() != pack.size()) {
        result.problem = "pack size " + std::to_string(pack.size()) + " instead of " +
                         std::to_string(offsets.back());
        return result;
    }
    for (std::size_t i = 0; i < index.chunks.size(); ++i) {
        const ChunkEntry& entry = index.chunks[i];
        const std::string stored = pack.substr(offsets[i], entry.storedLength);
        std::string chunk = stored;
        if (entry.storedLength < entry.length) {
            ++result.zstdChunks;
            chunk.assign(entry.length, '\0');
            const std::size_t size =
                ZSTD_decompress(chunk.data(), chunk.size(), stored.data(), stored.size());
            if (ZSTD_isError(size) || size != entry.length) {
                result.problem = "chunk " + std::to_string(i) + " does not decompress";
                return result;
            }
        } else {
            ++result.rawChunks;
        }
        // The index holds the first half of the chunk's SHA-256.
        const Sha256Digest digest = *sha256Bytes(chunk);
        if (!std::equal(entry.digest.begin(), entry.digest.end(), digest.begin())) {
            result.problem = "chunk " + std::to_string(i) + " has another digest";
            return result;
        }
        result.build += chunk;
    }
    return result;
}

TEST(PublishChunks, PackAndIndexRebuildTheGame) {
    struct Case {
        const char* name;
        std::string game;
        bool someCompressed;
        bool someRaw;
    };
    const Case cases[] = {
        {"three bytes", "abc", false, true},
        {"random bytes", pseudoRandomBytes(3 << 20, 11), false, true},
        {"text", compressibleText(2 << 20), true, false},
        {"zeros", std::string(chunkMaxSize * 3 + 5, '\0'), true, true},
        {"text, then random bytes", compressibleText(1 << 20) + pseudoRandomBytes(1 << 20, 12),
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir.file("game.exe"), c.game);
        const PublishOutcome outcome = publishBuild(requestFor(dir, "2.5"));
        ASSERT_EQ(outcome.error, "");
        const std::string channel = dir.file("out/orvanta-downloads");

        const auto manifest = parseManifest(readFile(channel + "/manifest.json"));
        ASSERT_TRUE(manifest.has_value());
        // Both files are named after their contents.
        const std::string indexName = digestNamed(channel, "Orvanta-2.5", ".chunks");
        EXPECT_EQ(manifest->game_chunks_url,
                  "https://cdn.example.test/games/orvanta-downloads/" + indexName);
        EXPECT_EQ(manifest->game_chunks_sha256, sha256File(channel + "/" + indexName));
        EXPECT_EQ(indexName.substr(12, 12), manifest->game_chunks_sha256.substr(0, 12));

        const auto index = parseChunkIndex(readFile(channel + "/" + indexName));
        ASSERT_TRUE(index.has_value());
        EXPECT_EQ(index->packName, digestNamed(channel, "Orvanta-2.5", ".pack"));
        EXPECT_EQ(index->packName.substr(12, 12),
                  sha256File(channel + "/" + index->packName).substr(0, 12));
        EXPECT_EQ(index->buildSize, c.game.size());
        // The chunks are exactly where the shared chunker cuts, as a launcher will cut.
        const std::vector<Chunk> cuts =
            chunkBuffer({reinterpret_cast<const unsigned char*>(c.game.data()), c.game.size()});
        ASSERT_EQ(index->chunks.size(), cuts.size());
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            EXPECT_EQ(index->chunks[i].length, cuts[i].length) << "chunk " << i;
        }

        const Rebuilt rebuilt = rebuildFromChunks(channel, *index);
        ASSERT_EQ(rebuilt.problem, "");
        EXPECT_TRUE(rebuilt.build == c.game);
        EXPECT_EQ(rebuilt.zstdChunks > 0, c.someCompressed);
        EXPECT_EQ(rebuilt.rawChunks > 0, c.someRaw);
        EXPECT_EQ(outcome.result.chunkCount, cuts.size());
    }
}

TEST(PublishChunks, TheReadBackCheckNoticesChunkFilesThatDoNotRebuildTheGame) {
    TempDir dir;
    const std::string game = compressibleText(1 << 20) + pseudoRandomBytes(1 << 20, 14);
    writeFile(dir.file("game.exe"), game);
    ASSERT_EQ(publishBuild(requestFor(dir, "3.0")).error, "");
    const std::string channel = dir.file("out/orvanta-downloads");
    const std::string gamePath = channel + "/" + digestNamed(channel, "Orvanta-3.0", ".exe");
    const std::string packPath = channel + "/" + digestNamed(channel, "Orvanta-3.0", ".pack");
    const std::string indexName = digestNamed(channel, "Orvanta-3.0", ".chunks");
    const std::string pack = readFile(packPath);
    ASSERT_EQ(checkChunkFiles(gamePath, channel, indexName), "");

    struct Case {
        const char* name;
        std::string pack;
        std::string game;
    };
    std::string flippedInFrame = pack;
    flippedInFrame[100] = static_cast<char>(flippedInFrame[100] ^ 1);
    std::string flippedInRaw = pack;
    flippedInRaw[pack.size() - 100] = static_cast<char>(flippedInRaw[pack.size() - 100] ^ 1);
    std::string otherGame = game;
    otherGame[game.size() / 2] = static_cast<char>(otherGame[game.size() / 2] ^ 1);
    const Case cases[] = {
        {"a compressed chunk changed", flippedInFrame, game},
        {"a raw chunk changed", flippedInRaw, game},
        {"the pack longer", pack + "x", game},
        {"the pack shorter", pack.substr(0, pack.size() - 1), game},
        {"the game changed", pack, otherGame},
        {"the game longer", pack, game + "x"},
    };
    for (const Case& c : cases) {
        writeFile(packPath, c.pack);
        writeFile(gamePath, c.game);
        EXPECT_NE(checkChunkFiles(gamePath, channel, indexName), "") << c.name;
    }
}

TEST(PublishChunks, NoChunksWritesNoneAndAnnouncesNone) {
    TempDir dir;
    writeFile(dir.file("game.exe"), compressibleText(100000));
    PublishRequest request = requestFor(dir, "1.0");
    request.chunks = false;
    ASSERT_EQ(publishBuild(request).error, "");
    const std::string channel = dir.file("out/orvanta-downloads");
    EXPECT_EQ(shapesIn(channel), (std::set<std::string>{"Orvanta-1.0-*.exe", "manifest.json"}));
    EXPECT_EQ(readFile(channel + "/manifest.json").find("game_chunks"), std::string::npos);
}

} // namespace
} // namespace orvanta::publish
