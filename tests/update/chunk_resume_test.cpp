// What a chunk update finds under its download file's name: an earlier attempt's chunks, a longer
// leftover, a file another launcher is writing, a whole download cut short.
#include "update/chunk_install_fixture.hpp"

namespace orvanta {
namespace {

using test::buildOf;
using test::ChunkAt;
using test::chunkAt;
using test::chunkFilesOf;
using test::ChunkInstall;
using test::hexOf;
using test::readFile;
using test::writeFile;

// A pack connection lost half way: the whole build comes from game_url in the same attempt. With
// game_url failing too, what arrived is kept, and the next attempt fetches only the rest.
TEST_F(ChunkInstall, ALostConnectionResumesWhereItStopped) {
    std::filesystem::remove(nativePath(exePath));
    serve(buildOf(2 << 20, 3));
    cutAfter = files.pack.size() / 2;
    ASSERT_EQ(install(manifest()), "");
    expectNewBuildInstalled();
    EXPECT_EQ(wholeRequests.load(), 1);

    std::filesystem::remove(nativePath(exePath));
    packBytesSent = 0;
    UpdateManifest unreachable = manifest();
    unreachable.game_url = server.url("/gone.exe");
    EXPECT_EQ(install(unreachable), downloadFailedMessage);
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
    EXPECT_EQ(wholeRequests.load(), 1);
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

} // namespace
} // namespace orvanta
