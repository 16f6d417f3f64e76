// Game install cases about file modes and links.
#include "update/game_install_fixture.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

namespace orvanta {
namespace {

using test::GameInstall;
using test::newGame;
using test::readFile;
using test::toUpper;
using test::writeFile;

TEST_F(GameInstall, InstallsTheBuildAsAnExecutable) {
    writeFile(downloadPath, "stale leftover from a killed launcher");
    EXPECT_EQ(install(manifest("/game", toUpper(digest))), "");
    EXPECT_EQ(readFile(exePath), newGame);
    struct stat info {};
    ASSERT_EQ(stat(exePath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
}

TEST_F(GameInstall, NeverWritesThroughALinkAtTheTemporaryName) {
    writeFile(outside, "not the launcher's");
    EXPECT_EQ(install(manifest("/planted", digest)), downloadFailedMessage);
    expectUntouched();
    EXPECT_EQ(readFile(outside), "not the launcher's");

    // Leftovers of any kind are cleared before the download (a folder: ClearsAFolderLeft...).
    const std::vector<std::function<void()>> leftovers = {
        [&] { std::filesystem::create_symlink(outside, downloadPath); },
        [&] { std::filesystem::create_symlink(dir.path(), downloadPath); }};
    for (const auto& plant : leftovers) {
        plant();
        EXPECT_EQ(install(manifest("/game", digest)), "");
        EXPECT_EQ(readFile(exePath), newGame);
        EXPECT_FALSE(std::filesystem::is_symlink(exePath));
        EXPECT_FALSE(test::fileExists(downloadPath));
        EXPECT_EQ(readFile(outside), "not the launcher's");
    }
}

} // namespace
} // namespace orvanta
