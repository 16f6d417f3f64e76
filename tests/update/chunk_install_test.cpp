// Updates put together from chunks: what is fetched, what is reused, and every way the server's
// chunk data can fail, which must end in the right build through the whole download.

#include "platform/paths.hpp"
#include "platform/sha256.hpp"
#include "platform/staged_file.hpp"
#include "support/loopback_server.hpp"
#include "support/random_bytes.hpp"
#include "support/same_bytes.hpp"
#include "support/temp_dir.hpp"
#include "update/chunks/background_sha256.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"
#include "update/chunks/local_chunks.hpp"
#include "update/game_install.hpp"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <zstd.h>

namespace orvanta {
namespace {

using test::readFile;
using test::writeFile;

// Compressible, and cut by the chunker as real data is: runs of pseudo-random words.
std::string buildOf(std::size_t size, std::uint64_t seed) {
    const std::string noise = test::pseudoRandomBytes(size / 4 + 64, seed);
    std::string build;
    for (std::size_t i = 0; build.size() < size; ++i) {
        build += "w" + std::to_string(static_cast<unsigned char>(noise[i % noise.size()])) + " ";
    }
    build.resize(size);
    return build;
}

// The chunk files a publication writes for build, made here from the format alone.
struct ChunkFiles {
    std::string index;
    std::string pack;
};

ChunkFiles chunkFilesOf(const std::string& build) {
    ChunkFiles files;
    ChunkIndex index;
    index.buildSize = build.size();
    index.packName = "Orvanta-2.0.pack";
    const auto bytes =
        std::span(reinterpret_cast<const unsigned char*>(build.data()), build.size());
    for (const Chunk& cut : chunkBuffer(bytes)) {
        const std::string plain = build.substr(cut.offset, cut.length);
        std::string frame(ZSTD_compressBound(plain.size()), '\0');
        frame.resize(ZSTD_compress(frame.data(), frame.size(), plain.data(), plain.size(), 3));
        ChunkEntry entry;
        entry.length = cut.length;
        const Sha256Digest digest = *sha256Bytes(plain);
        std::copy_n(digest.begin(), entry.digest.size(), entry.digest.begin());
        const bool packed = frame.size() < plain.size();
        entry.storedLength = static_cast<std::uint32_t>(packed ? frame.size() : plain.size());
        files.pack += packed ? frame : plain;
        index.chunks.push_back(entry);
    }
    files.index = serializeChunkIndex(index);
    return files;
}

std::string hexOf(const std::string& bytes) {
    return digestHex(*sha256Bytes(bytes));
}

// The requests that fetch exactly the chunks of files' build that installed lacks, one for each
// run of them side by side in the build, and the bytes they bring.
struct PackRequests {
    std::vector<std::string> ranges;
    std::uint64_t bytes = 0;
};

PackRequests requestsForChunksMissingFrom(const std::string& installed, const ChunkFiles& files) {
    std::set<ChunkDigest> onDisk;
    const auto bytes =
        std::span(reinterpret_cast<const unsigned char*>(installed.data()), installed.size());
    for (const Chunk& cut : chunkBuffer(bytes)) {
        onDisk.insert(*chunkDigestOf(installed.substr(cut.offset, cut.length)));
    }
    const ChunkIndex index = *parseChunkIndex(files.index);
    const std::vector<std::uint64_t> offsets = chunkPackOffsets(index);
    PackRequests requests;
    for (std::size_t first = 0; first < index.chunks.size();) {
        std::size_t end = first;
        while (end < index.chunks.size() && !onDisk.contains(index.chunks[end].digest)) {
            ++end;
        }
        if (end > first) {
            requests.ranges.push_back("bytes=" + std::to_string(offsets[first]) + "-" +
                                      std::to_string(offsets[end] - 1));
            requests.bytes += offsets[end] - offsets[first];
        }
        first = std::max(end, first + 1);
    }
    return requests;
}

// Where the chunk that holds the build's byte at offset begins, in the build and in the pack.
struct ChunkAt {
    std::uint64_t start = 0;
    std::uint64_t packOffset = 0;
};

ChunkAt chunkAt(const ChunkFiles& files, std::uint64_t offset) {
    const ChunkIndex index = *parseChunkIndex(files.index);
    const std::vector<std::uint64_t> packOffsets = chunkPackOffsets(index);
    ChunkAt at;
    for (std::size_t i = 0; i < index.chunks.size(); ++i) {
        at.packOffset = packOffsets[i];
        if (offset < at.start + index.chunks[i].length) {
            break;
        }
        at.start += index.chunks[i].length;
    }
    return at;
}

// Version 1.0 installed; the server holds 2.0 whole, its index and its pack. The pack answers
// ranges and counts what it sends; it can be made to drop the connection after a budget. The
// server's threads read what is served from a copy taken under a lock when an install starts, so
// the cases may change the fixture's fields freely between installs.
class ChunkInstall : public testing::Test {
  public:
    struct Served {
        std::string build;
        std::string index;
        std::string pack;
        bool ignoreRanges = false;
        std::vector<std::string> ranges; // the pack's Range headers, in order
    };

    void SetUp() override {
        server.server().Get("/Orvanta-2.0.exe",
                            [this](const httplib::Request&, httplib::Response& res) {
                                ++wholeRequests;
                                const std::lock_guard lock(servedLock);
                                res.set_content(served.build, "application/octet-stream");
                            });
        // Half the build under a Content-Length of the whole, then the connection drops.
        server.server().Get("/cut.exe", [this](const httplib::Request&, httplib::Response& res) {
            const std::lock_guard lock(servedLock);
            res.set_content_provider(
                served.build.size(), "application/octet-stream",
                [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    const std::lock_guard inner(servedLock);
                    const std::size_t half = served.build.size() / 2;
                    return offset < half && sink.write(served.build.data() + offset, half - offset);
                });
        });
        server.server().Get("/Orvanta-2.0.chunks",
                            [this](const httplib::Request&, httplib::Response& res) {
                                const std::lock_guard lock(servedLock);
                                res.set_content(served.index, "application/octet-stream");
                            });
        server.server().Get(
            "/Orvanta-2.0.pack", [this](const httplib::Request& req, httplib::Response& res) {
                const std::lock_guard lock(servedLock);
                if (served.ignoreRanges) {
                    // The whole pack with 200, as a server that knows no ranges sends it.
                    res.status = 200;
                    res.set_chunked_content_provider(
                        "application/octet-stream", [this](std::size_t, httplib::DataSink& sink) {
                            const std::lock_guard inner(servedLock);
                            sink.write(served.pack.data(), served.pack.size());
                            sink.done();
                            return true;
                        });
                    return;
                }
                ++packRequests;
                served.ranges.push_back(req.get_header_value("Range"));
                res.set_content_provider(
                    served.pack.size(), "application/octet-stream",
                    [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                        const std::lock_guard inner(servedLock);
                        const std::size_t budget = cutAfter.load();
                        const std::size_t sent = packBytesSent.load();
                        const std::size_t send = std::min(length, budget - std::min(budget, sent));
                        packBytesSent += send;
                        return send > 0 && sink.write(served.pack.data() + offset, send);
                    });
            });
        server.start();
        writeFile(exePath, oldBuild, true);
    }

    // The server's threads end before the payloads they read from are destroyed.
    void TearDown() override { server.stop(); }

    UpdateManifest manifest() {
        UpdateManifest m;
        m.game_version = "2.0";
        m.game_url = server.url("/Orvanta-2.0.exe");
        m.game_sha256 = hexOf(newBuild);
        m.game_size = newBuild.size();
        m.game_chunks_url = server.url("/Orvanta-2.0.chunks");
        m.game_chunks_sha256 = hexOf(indexServed);
        return m;
    }

    // Publishes build as 2.0.
    void serve(const std::string& build) {
        newBuild = build;
        files = chunkFilesOf(build);
        indexServed = files.index;
    }

    // Publishes the installed build with four bytes rewritten near its start.
    void serveSmallEdit() {
        std::string changed = oldBuild;
        changed.replace(100, 4, "EDIT");
        serve(changed);
    }

    std::string install(const UpdateManifest& m) {
        progress.clear();
        {
            const std::lock_guard lock(servedLock);
            served = Served{newBuild, indexServed, files.pack, ignoreRanges, {}};
        }
        return installGameBuild(m, exePath, dir.file("version.txt"),
                                [this](std::uint64_t inPlace, std::uint64_t total) {
                                    progress.emplace_back(inPlace, total);
                                },
                                {});
    }

    // The pack's Range headers of the last install.
    std::vector<std::string> packRanges() {
        const std::lock_guard lock(servedLock);
        return served.ranges;
    }

    void expectNewBuildInstalled() {
        EXPECT_TRUE(test::sameBytes(readFile(exePath), newBuild));
        EXPECT_FALSE(test::fileExists(downloadPath));
        EXPECT_EQ(readFile(dir.file("version.txt")), "2.0");
    }

  public:
    // The fault table's cases change these.
    test::TempDir dir;
    test::LoopbackServer server;
    std::string exePath = dir.file("Orvanta.exe");
    std::string downloadPath = exePath + ".download";
    std::string oldBuild = buildOf(3 << 20, 1);
    std::string newBuild;
    ChunkFiles files;
    std::string indexServed;
    bool ignoreRanges = false;
    std::atomic<std::size_t> cutAfter{~std::size_t{0}};
    std::atomic<std::size_t> packBytesSent{0};
    std::atomic<int> packRequests{0};
    std::atomic<int> wholeRequests{0};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    std::mutex servedLock;
    Served served;
};

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

// Two small edits far apart: the pack is asked for exactly the chunks around each, one request
// for each, and sends nothing more.
TEST_F(ChunkInstall, FetchesEachRunOfMissingChunksAlone) {
    std::string changed = oldBuild;
    changed.replace(1 << 20, 8, "CHANGED!");
    changed.replace((5 << 20) / 2, 8, "EDITED!!");
    serve(changed);
    const PackRequests expected = requestsForChunksMissingFrom(oldBuild, files);
    ASSERT_EQ(expected.ranges.size(), 2u);
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_EQ(packRanges(), expected.ranges);
    EXPECT_EQ(packBytesSent.load(), expected.bytes);
    EXPECT_EQ(wholeRequests.load(), 0);
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
        const LocalChunks one = findLocalChunks(path, index, 0, ~std::uint64_t{0});
        const LocalChunks two = findLocalChunks(path, index, 0, 1 << 20);
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

// A connection lost half way keeps what arrived; the next attempt fetches only the rest.
TEST_F(ChunkInstall, ALostConnectionResumesWhereItStopped) {
    std::filesystem::remove(nativePath(exePath));
    serve(buildOf(2 << 20, 3));
    cutAfter = files.pack.size() / 2;
    EXPECT_EQ(install(manifest()), downloadFailedMessage);
    EXPECT_FALSE(test::fileExists(exePath));
    const std::uint64_t kept = std::filesystem::file_size(nativePath(downloadPath));
    EXPECT_GT(kept, newBuild.size() / 4);

    // Bytes past the chunks kept (a chunk cut in the middle) are written over, and so is a kept
    // chunk that no longer matches its digest, with everything after it.
    std::string leftover = readFile(downloadPath);
    leftover[kept / 2] ^= 1;
    writeFile(downloadPath, leftover + "torn chunk");
    const ChunkAt damaged = chunkAt(files, kept / 2);
    cutAfter = ~std::size_t{0};
    packBytesSent = 0;
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_EQ(progress.front().first, damaged.start);
    EXPECT_EQ(packBytesSent.load(), files.pack.size() - damaged.packOffset);
    EXPECT_EQ(wholeRequests.load(), 0);
}

// A leftover longer than the build, its first chunks the build's and the rest another build's: it
// is cut after the chunks it shares, and nothing of its tail is installed.
TEST_F(ChunkInstall, ALeftoverIsCutAfterTheChunksItShares) {
    std::filesystem::remove(nativePath(exePath));
    serve(buildOf(2 << 20, 3));
    writeFile(downloadPath, newBuild.substr(0, newBuild.size() / 2) + buildOf(3 << 20, 8));
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_EQ(progress.front().first, chunkAt(files, newBuild.size() / 2).start);
    EXPECT_EQ(wholeRequests.load(), 0);
}

// Another launcher writing the download file (one that could not take the folder's lock): this
// one ends with the lock's sentence and touches neither that file nor the game, on every road.
TEST_F(ChunkInstall, LeavesAloneADownloadAnotherLauncherIsWriting) {
    serveSmallEdit();
    UpdateManifest noIndex = manifest();
    noIndex.game_chunks_url += "-gone";
    UpdateManifest whole = manifest();
    whole.game_chunks_url.clear();
    for (const bool resumed : {false, true}) {
        StagedFile other;
        ASSERT_TRUE(resumed ? other.resume(downloadPath) : other.create(downloadPath));
        ASSERT_TRUE(other.write("their bytes", 11));
        for (const UpdateManifest& m : {manifest(), noIndex, whole}) {
            SCOPED_TRACE(m.game_chunks_url);
            EXPECT_EQ(install(m), alreadyRunningMessage);
            // Read through the other launcher's handle: Windows lets no one else open it.
            std::string held(11, '\0');
            EXPECT_EQ(other.readAt(0, held.data(), held.size()), std::optional<std::size_t>(11));
            EXPECT_EQ(held, "their bytes");
            EXPECT_TRUE(readFile(exePath) == oldBuild);
        }
        other.keep();
    }
    EXPECT_EQ(packRequests.load(), 0);
}

// A whole download cut short is kept for the next attempt's chunks only when the manifest bounds
// its size; without game_size it goes.
TEST_F(ChunkInstall, KeepsACutShortWholeDownloadOnlyOfAKnownSize) {
    serveSmallEdit();
    UpdateManifest m = manifest();
    m.game_chunks_url += "-gone";
    m.game_url = server.url("/cut.exe");
    EXPECT_EQ(install(m), downloadFailedMessage);
    EXPECT_EQ(std::filesystem::file_size(nativePath(downloadPath)), newBuild.size() / 2);
    m.game_size.reset();
    EXPECT_EQ(install(m), downloadFailedMessage);
    EXPECT_FALSE(test::fileExists(downloadPath));
    EXPECT_TRUE(readFile(exePath) == oldBuild);
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
        {"ranges ignored", [](ChunkInstall& t, UpdateManifest&) { t.ignoreRanges = true; }},
        {"chunk corrupted", [](ChunkInstall& t, UpdateManifest&) { t.files.pack[100] ^= 1; }},
        // Stored as it is, so the damage passes unpacking; the second run is never asked for.
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
        ignoreRanges = false;
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
