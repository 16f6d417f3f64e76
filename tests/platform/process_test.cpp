#include "support/temp_dir.hpp"
#include "update/game_start.hpp"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

// Starting real games, and files that cannot run for reasons of their own: posix/process_test.cpp
// and windows/process_test.cpp.
TEST(LaunchGame, ReportsAGameThatIsNotThere) {
    test::TempDir dir;
    EXPECT_FALSE(launchGame(dir.file("missing")));
    EXPECT_FALSE(launchGame(""));
}

} // namespace
} // namespace orvanta
