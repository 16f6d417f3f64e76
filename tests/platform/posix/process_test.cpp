// Starting a game through a shell script, in a session of its own, and files that cannot run.
#include "support/temp_dir.hpp"
#include "update/game_start.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace orvanta {
namespace {

using test::TempDir;
using test::waitForFile;
using test::writeFile;

TEST(LaunchGame, StartsDetachedWithoutWaitingOrLeavingAZombie) {
    TempDir dir;
    const std::string marker = dir.file("marker");
    const std::string release = dir.file("release");
    // The game records its session and arguments, then stays alive until released (or 20 s pass):
    // the call must return while it still runs.
    const std::string game = dir.file("game");
    writeFile(game,
              "#!/bin/sh\n"
              "exec >/dev/null 2>&1\n"
              "ps -o sid= -p $$ | tr -d ' ' > '" +
                  marker +
                  ".sid'\n"
                  "echo \"args:$#\" > '" +
                  marker +
                  "'\n"
                  "for i in $(seq 400); do [ -e '" +
                  release +
                  "' ] && break; sleep 0.05; done\n"
                  "echo done > '" +
                  marker + ".done'\n",
              true);

    ASSERT_TRUE(launchGame(game));
    ASSERT_TRUE(waitForFile(marker));
    EXPECT_EQ(test::readFile(marker), "args:0\n");
    // Its own session, not ours.
    ASSERT_TRUE(waitForFile(marker + ".sid"));
    EXPECT_NE(std::stoi(test::readFile(marker + ".sid")), static_cast<int>(getsid(0)));
    // No child of ours is left to reap.
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    writeFile(release, "");
    EXPECT_TRUE(waitForFile(marker + ".done"));
}

TEST(LaunchGame, ReportsFilesThatCannotBeExecuted) {
    TempDir dir;
    const std::string plain = dir.file("not-executable");
    writeFile(plain, "#!/bin/sh\ntouch '" + dir.file("ran") + "'\n", false);
    EXPECT_FALSE(launchGame(plain));

    const std::string noInterpreter = dir.file("no-interpreter");
    writeFile(noInterpreter, "#!/nonexistent/interpreter\n", true);
    EXPECT_FALSE(launchGame(noInterpreter));

    EXPECT_FALSE(launchGame(dir.path()));
    EXPECT_FALSE(test::fileExists(dir.file("ran")));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

} // namespace
} // namespace orvanta
