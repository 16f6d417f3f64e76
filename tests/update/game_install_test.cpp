#include "platform/paths.hpp"
#include "update/game_install_fixture.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace orvanta {
namespace {

using test::GameInstall;
using test::newGame;
using test::readFile;
using test::toUpper;
using test::writeFile;

TEST_F(GameInstall, InstallsAVerifiedBuildAndRecordsItsVersion) {
    writeFile(downloadPath, "stale leftover from a killed launcher");
    std::string upper = toUpper(digest);
    UpdateManifest sized = manifest("/game", upper);
    sized.game_size = newGame.size();
    EXPECT_EQ(install(sized), "");
    EXPECT_EQ(readFile(exePath), newGame);
    EXPECT_EQ(readFile(versionPath), "2.0");
    EXPECT_FALSE(test::fileExists(downloadPath));
    EXPECT_EQ(verifyingCalls, 1);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().first, newGame.size());
    EXPECT_EQ(progress.back().second, newGame.size());
}

TEST_F(GameInstall, WithoutADigestInstallsWhateverArrivesUnverified) {
    EXPECT_EQ(install(manifest("/game", "")), "");
    EXPECT_EQ(readFile(exePath), newGame);
    EXPECT_EQ(verifyingCalls, 0);
}

TEST_F(GameInstall, FailuresLeaveTheInstalledGameAndRecordAsTheyWere) {
    writeFile(downloadPath, "leftover");
    EXPECT_EQ(install(manifest("/missing", digest)), downloadFailedMessage);
    expectUntouched();
    EXPECT_TRUE(progress.empty());

    EXPECT_EQ(install(manifest("/game", std::string(64, '0'))), verificationFailedMessage);
    expectUntouched();
    EXPECT_EQ(install(manifest("/game", digest.substr(0, 63))), verificationFailedMessage);
    expectUntouched();

    EXPECT_EQ(install(manifest("/game", digest + "0")), verificationFailedMessage);
    expectUntouched();

    UpdateManifest sized = manifest("/game", digest);
    sized.game_size = newGame.size() - 1;
    EXPECT_EQ(install(sized), downloadFailedMessage);
    expectUntouched();
    sized.game_size = newGame.size() + 1;
    EXPECT_EQ(install(sized), verificationFailedMessage);
    expectUntouched();
}

TEST_F(GameInstall, ARenameThatFailsKeepsTheOldGame) {
    // A non-empty folder where the executable belongs cannot be replaced by a file.
    std::filesystem::remove(nativePath(exePath));
    std::filesystem::create_directory(nativePath(exePath));
    writeFile(exePath + "/keep", "x");
    EXPECT_EQ(install(manifest("/game", digest)), installFailedMessage);
    EXPECT_TRUE(test::fileExists(exePath + "/keep"));
    EXPECT_EQ(readFile(versionPath), "1.0");
    EXPECT_FALSE(test::fileExists(downloadPath));
}

// Leftovers that are links: posix/game_install_test.cpp.
TEST_F(GameInstall, ClearsAFolderLeftAtTheTemporaryName) {
    std::filesystem::create_directory(nativePath(downloadPath));
    writeFile(downloadPath + "/inside", "x");
    EXPECT_EQ(install(manifest("/game", digest)), "");
    EXPECT_EQ(readFile(exePath), newGame);
    EXPECT_FALSE(std::filesystem::is_symlink(nativePath(exePath)));
    EXPECT_FALSE(test::fileExists(downloadPath));
}

TEST_F(GameInstall, NeedsUpdateFollowsTheDecisionTable) {
    UpdateManifest m = manifest("/game", "");
    m.game_version = "1.0";
    EXPECT_FALSE(gameNeedsUpdate(exePath, "1.0", m)); // same version, no digest
    m.game_version = "1.0-RC";
    EXPECT_FALSE(gameNeedsUpdate(exePath, "1.0-rc", m));
    m.game_version = "1.9";
    EXPECT_TRUE(gameNeedsUpdate(exePath, "1.10", m));  // never ordered
    EXPECT_TRUE(gameNeedsUpdate(exePath, "0.0.0", m)); // no record

    writeFile(exePath, newGame, true);
    m.game_version = "2.0";
    std::string upper = toUpper(digest);
    m.game_sha256 = upper;
    EXPECT_FALSE(gameNeedsUpdate(exePath, "2.0", m)); // digest matches
    m.game_sha256 = std::string(64, 'a');
    EXPECT_TRUE(gameNeedsUpdate(exePath, "2.0", m)); // modified on disk

    std::filesystem::remove(nativePath(exePath));
    EXPECT_TRUE(gameNeedsUpdate(exePath, "2.0", m)); // deleted

    // An executable that cannot be read counts as current.
    std::filesystem::create_directory(nativePath(exePath));
    EXPECT_FALSE(gameNeedsUpdate(exePath, "2.0", m));
}

} // namespace
} // namespace orvanta
