// Hand-overs to real processes: a build that comes up takes the launcher's place with its
// arguments; one that ends at once, cannot run or stays silent is taken back out and refused; a
// launcher killed at any step leaves one working launcher at its path once the next one starts.
#include "update/launcher_update_fixture.hpp"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvanta {
namespace {

using test::fileExists;
using test::LauncherUpdateTest;
using test::readFile;
using test::writeFile;

// A new launcher that notes its arguments, then says it is up on the channel it was handed.
std::string comingUp(const std::string& marker) {
    return "#!/bin/sh\nprintf '%s|' \"$@\" > '" + marker +
           "'\nprintf x >&\"$ORVANTA_LAUNCHER_READY_FD\"\n# launcher 1.1\n";
}

bool isExecutable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && (info.st_mode & 0111) == 0111;
}

// A package manager's launcher is replaced by the package manager alone.
TEST_F(LauncherUpdateTest, ALauncherUnderUsrNeverReplacesItself) {
    OwnLauncher packaged = own();
    packaged.path = "/usr/bin/orvanta-launcher";
    EXPECT_FALSE(LauncherUpdate(packaged, refusedPath).offered(announcing("#!/bin/sh\n")));
    EXPECT_TRUE(update().offered(announcing("#!/bin/sh\n")));
}

TEST_F(LauncherUpdateTest, ABuildThatComesUpTakesThePlaceWithTheSameArguments) {
    const std::string marker = dir.file("started-with");
    const std::string build = comingUp(marker);
    LauncherUpdate update = this->update();
    ASSERT_TRUE(update.fetch(announcing(build)));
    ASSERT_TRUE(update.handOver(launcherStartWait));
    EXPECT_EQ(readFile(launcherPath), build);
    EXPECT_TRUE(isExecutable(launcherPath));
    EXPECT_EQ(readFile(marker), "--one|two words|");
    // The new launcher, at its start, clears what the old one left.
    finishLauncherHandOver(launcherPath);
    EXPECT_FALSE(fileExists(launcherPath + ".old"));
    EXPECT_FALSE(fileExists(launcherPath + ".download"));
}

TEST_F(LauncherUpdateTest, ABuildThatDoesNotComeUpIsTakenBackOutAndRefused) {
    struct Case {
        const char* what;
        std::string build;
    };
    const Case cases[] = {
        {"ends at once", "#!/bin/sh\nexit 3\n"},
        {"cannot run", "not a program\n"},
        {"stays silent", "#!/bin/sh\nsleep 30\n"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(refusedPath);
        const UpdateManifest m = announcing(c.build);
        LauncherUpdate update = this->update();
        ASSERT_TRUE(update.fetch(m)) << c.what;
        EXPECT_FALSE(update.handOver(std::chrono::seconds(2))) << c.what;
        expectOldLauncherAlone();
        EXPECT_TRUE(isExecutable(launcherPath)) << c.what;
        EXPECT_FALSE(update.offered(m)) << c.what;
    }
}

TEST_F(LauncherUpdateTest, ALauncherKilledAtAnyStepLeavesOneWorkingLauncher) {
    for (const HandOverStep killedAt : {HandOverStep::fetched, HandOverStep::setAside,
                                        HandOverStep::inPlace, HandOverStep::started}) {
        const int step = static_cast<int>(killedAt);
        writeFile(launcherPath, oldLauncher, true);
        // Notes nothing: it may still be starting when the test is over.
        const std::string build = "#!/bin/sh\nprintf x >&\"$ORVANTA_LAUNCHER_READY_FD\"\n";
        std::optional<LauncherUpdate> update;
        update.emplace(own(), refusedPath);
        ASSERT_TRUE(update->fetch(announcing(build))) << step;
        const pid_t child = ::fork();
        if (child == 0) {
            update->handOver(launcherStartWait, [killedAt](HandOverStep reached) {
                if (reached == killedAt) {
                    ::raise(SIGKILL);
                }
            });
            ::_exit(0);
        }
        update.reset(); // only the killed launcher held the download
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << step;
        // The next start, of whichever launcher is at the path.
        finishLauncherHandOver(launcherPath);
        const std::string inPlace = readFile(launcherPath);
        EXPECT_EQ(inPlace, killedAt >= HandOverStep::inPlace ? build : oldLauncher) << step;
        EXPECT_TRUE(isExecutable(launcherPath)) << step;
        EXPECT_FALSE(fileExists(launcherPath + ".old")) << step;
        EXPECT_FALSE(fileExists(launcherPath + ".download")) << step;
    }
}

} // namespace
} // namespace orvanta
