// Starting a Windows program, and a file that is not one.
#include "platform/paths.hpp"
#include "support/temp_dir.hpp"
#include "update/game_start.hpp"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>
#include <windows.h>

namespace orvanta {
namespace {

using test::TempDir;
using test::waitForFile;
using test::writeFile;

// The stand-in game (game_stand_in.cpp), built beside this test program.
std::filesystem::path gameStandIn() {
    std::wstring self(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    self.resize(length);
    return std::filesystem::path(self).parent_path() / L"orvanta_game_stand_in.exe";
}

TEST(LaunchGame, StartsTheGameWithoutWaitingForIt) {
    TempDir dir;
    // The game records its arguments, then stays alive until released (or 20 s pass): the call
    // must return while it still runs.
    const std::string game = dir.file("Orvanta.exe");
    std::filesystem::copy_file(gameStandIn(), nativePath(game));

    ASSERT_TRUE(launchGame(game));
    ASSERT_TRUE(waitForFile(game + ".marker"));
    EXPECT_EQ(test::readFile(game + ".marker"), "args:0\n");
    EXPECT_FALSE(test::fileExists(game + ".done"));
    writeFile(game + ".release", "");
    EXPECT_TRUE(waitForFile(game + ".done"));
}

TEST(LaunchGame, ReportsFilesThatCannotBeExecuted) {
    TempDir dir;
    const std::string plain = dir.file("not-a-program");
    writeFile(plain, "#!/bin/sh\n");
    EXPECT_FALSE(launchGame(plain));
    EXPECT_FALSE(launchGame(dir.path())); // a folder would open in Explorer
}

} // namespace
} // namespace orvanta
