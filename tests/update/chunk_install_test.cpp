// Updates put together from chunks: what is fetched, what is reused, and every way the server's
// chunk data can fail, which must end in the right build through the whole download.
#include "update/chunk_install_fixture.hpp"

namespace orvanta {
namespace {

using test::buildOf;
using test::chunkFilesOf;
using test::ChunkInstall;
using test::hexOf;
using test::PackRequests;
using test::readFile;
using test::requestsForChunksMissingFrom;
using test::writeFile;

// A few bytes rewritten, a block inserted, one removed and one moved: only the chunks around them
// come from the pack; a first install fetches the pack whole, compressed; the whole build is never
// fetched.
TEST_F(ChunkInstall, FetchesOnlyTheChunksTheDiskLacks) {
    // Moved from chunk boundary to chunk boundary, so that every chunk of it and around it is in
    // the installed game, side by side but from other places.
    const std::vector<Chunk> cuts = chunkBuffer(
        std::span(reinterpret_cast<const unsigned char*>(oldBuild.data()), oldBuild.size()));
    std::string changed = oldBuild;
    const std::string moved = changed.substr(cuts[100].offset, cuts[120].offset - cuts[100].offset);
    changed.erase(cuts[100].offset, moved.size());
    changed.insert(cuts[10].offset, moved);
    changed.replace(1 << 20, 8, "CHANGED!");
    changed.insert(2 << 20, buildOf(5000, 2));
    changed.erase(500000, 7000);
    serve(changed);
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_GT(packBytesSent.load(), 0u);
    EXPECT_LT(packBytesSent.load(), files.pack.size() / 5);
    EXPECT_EQ(progress.back(), std::make_pair<std::uint64_t>(newBuild.size(), newBuild.size()));

    std::filesystem::remove(nativePath(exePath));
    packBytesSent = 0;
    packRequests = 0;
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_EQ(packBytesSent.load(), files.pack.size());
    EXPECT_LT(files.pack.size(), newBuild.size() / 2);
    EXPECT_EQ(packRequests.load(), 1);
    EXPECT_EQ(wholeRequests.load(), 0);
}

// Two small edits far apart: the pack is asked for exactly the chunks around each, both in one
// request, and sends nothing more; a server that answers one range at a time (with one range,
// or with 416 to the request for both) is then asked for each alone.
TEST_F(ChunkInstall, FetchesTheRunsOfMissingChunksInAsFewRequestsAsTheServerTakes) {
    std::string changed = oldBuild;
    changed.replace(1 << 20, 8, "CHANGED!");
    changed.replace((5 << 20) / 2, 8, "EDITED!!");
    serve(changed);
    const PackRequests expected = requestsForChunksMissingFrom(oldBuild, files);
    ASSERT_EQ(expected.ranges.size(), 2u);
    const std::string one = "bytes=" + expected.ranges[0];
    const std::string two = "bytes=" + expected.ranges[1];
    for (const auto& [kind, asked] :
         {std::pair{test::RangeServer::many, std::vector{expected.all()}},
          std::pair{test::RangeServer::one, std::vector{expected.all(), one, two}},
          std::pair{test::RangeServer::oneElse416, std::vector{expected.all(), one, two}}}) {
        SCOPED_TRACE(static_cast<int>(kind));
        writeFile(exePath, oldBuild, true);
        rangeServer = kind;
        packBytesSent = 0;
        ASSERT_EQ(install(manifest()), "");
        expectNewBuildInstalled();
        EXPECT_EQ(packRanges(), asked);
        EXPECT_EQ(packBytesSent.load(), expected.bytes);
        EXPECT_EQ(wholeRequests.load(), 0);
    }
}

// Cut by two threads, the second starting in the middle of a chunk, the installed game yields
// every chunk one thread finds, at places that hold them; also where the halves meet in a run of
// zeros, which the chunker cuts only at the maximum length.
TEST(LocalChunks, TwoThreadsFindWhatOneFinds) {
    test::TempDir dir;
    const std::string path = dir.file("Orvanta.exe");
    std::string zeros = buildOf(3 << 20, 4);
    zeros.replace((3 << 20) / 2 - 300000, 600000, 600000, '\0');
    for (const std::string& build : {buildOf(3 << 20, 4), zeros}) {
        writeFile(path, build);
        const ChunkIndex index = *parseChunkIndex(chunkFilesOf(build).index);
        const LocalChunks one = *findLocalChunks(path, index, 0, ~std::uint64_t{0});
        const LocalChunks two = *findLocalChunks(path, index, 0, 1 << 20);
        EXPECT_GT(one.size(), index.chunks.size() / 2);
        for (const auto& [digest, place] : one) {
            EXPECT_TRUE(two.contains(digest));
        }
        for (const auto& [digest, place] : two) {
            EXPECT_EQ(chunkDigestOf(build.substr(place.offset, place.length)), digest);
        }
    }
}

// The build's digest taken while it is written, in pieces of every size a build is made of,
// across the blocks the hashing thread takes: the same as the whole at once, however cut.
TEST(BackgroundSha256, AgreesWithTheDigestOfTheWhole) {
    const std::string whole = test::pseudoRandomBytes((3 << 20) + 12345, 5);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4097}, std::size_t{65536},
                                    std::size_t{1} << 20, std::size_t{3} << 20}) {
        BackgroundSha256 hash;
        for (std::size_t at = 0; at < whole.size(); at += piece) {
            const std::string_view bytes = std::string_view(whole).substr(at, piece);
            if ((at / piece) % 2 == 0) {
                hash.add(bytes);
            } else {
                std::copy(bytes.begin(), bytes.end(), hash.claim(bytes.size()).begin());
            }
        }
        EXPECT_EQ(hash.finishHex(), hexOf(whole)) << piece;
    }
    EXPECT_EQ(BackgroundSha256().finishHex(), hexOf(""));
}

// Whatever is wrong with the chunk data, the whole build is downloaded and installed.
TEST_F(ChunkInstall, FallsBackToTheWholeBuildOnAnyFaultOfTheChunkData) {
    struct Case {
        const char* what;
        std::function<void(ChunkInstall&, UpdateManifest&)> spoil;
        int packRequests = -1; // how many ranges the pack answered, where that tells
    };
    const Case cases[] = {
        {"no index", [](ChunkInstall&, UpdateManifest& m) { m.game_chunks_url += "-gone"; }},
        {"index digest differs",
         [](ChunkInstall&, UpdateManifest& m) { m.game_chunks_sha256[5] ^= 1; }},
        {"index malformed",
         [](ChunkInstall& t, UpdateManifest& m) {
             t.indexServed[40] ^= 0x55;
             m.game_chunks_sha256 = hexOf(t.indexServed);
         }},
        {"index over the cap",
         [](ChunkInstall& t, UpdateManifest& m) {
             t.indexServed.resize(maxChunkIndexBytes + 1);
             m.game_chunks_sha256 = hexOf(t.indexServed);
         }},
        {"index of another size", [](ChunkInstall&, UpdateManifest& m) { ++*m.game_size; }},
        {"index of another build",
         [](ChunkInstall& t, UpdateManifest& m) {
             t.indexServed = chunkFilesOf(buildOf(3 << 20, 9)).index;
             m.game_chunks_sha256 = hexOf(t.indexServed);
         }},
        // Agreeing with each other, so only the whole-file check can tell.
        {"index and pack of another build",
         [](ChunkInstall& t, UpdateManifest& m) {
             t.files = chunkFilesOf(buildOf(3 << 20, 9));
             t.indexServed = t.files.index;
             m.game_chunks_sha256 = hexOf(t.indexServed);
         }},
        {"no build digest to check the chunks' work",
         [](ChunkInstall&, UpdateManifest& m) { m.game_sha256.clear(); }, 0},
        {"ranges ignored",
         [](ChunkInstall& t, UpdateManifest&) { t.rangeServer = test::RangeServer::none; }},
        {"chunk corrupted", [](ChunkInstall& t, UpdateManifest&) { t.files.pack[100] ^= 1; }},
        // Stored as it is, so the damage passes unpacking; no request follows the one that
        // brought it.
        {"chunk stored plain and damaged",
         [](ChunkInstall& t, UpdateManifest& m) {
             std::string build = t.oldBuild;
             build.replace(0, 30000, test::pseudoRandomBytes(30000, 7));
             build.replace(2 << 20, 8, "CHANGED!");
             t.serve(build);
             ASSERT_TRUE(parseChunkIndex(t.files.index)->chunks[0].storedRaw());
             t.files.pack[100] ^= 1;
             m = t.manifest();
         },
         1},
        {"chunks listed out of order",
         [](ChunkInstall& t, UpdateManifest& m) {
             ChunkIndex index = *parseChunkIndex(t.files.index);
             std::swap(index.chunks[0], index.chunks[1]);
             t.indexServed = serializeChunkIndex(index);
             m.game_chunks_sha256 = hexOf(t.indexServed);
         }},
    };
    std::string changed = oldBuild;
    changed.replace(100, 4, "EDIT");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(exePath, oldBuild, true);
        serve(changed);
        rangeServer = test::RangeServer::many;
        wholeRequests = 0;
        packRequests = 0;
        UpdateManifest m = manifest();
        c.spoil(*this, m);
        if (std::string_view(c.what) == "index of another size") {
            // Then the whole download stops at the announced size.
            EXPECT_EQ(install(m), verificationFailedMessage);
            EXPECT_TRUE(readFile(exePath) == oldBuild);
            continue;
        }
        ASSERT_EQ(install(m), "");
        expectNewBuildInstalled();
        EXPECT_EQ(wholeRequests.load(), 1);
        if (c.packRequests >= 0) {
            EXPECT_EQ(packRequests.load(), c.packRequests);
        }
    }
}

} // namespace
} // namespace orvanta
