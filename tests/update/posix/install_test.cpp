// Install folder and version record cases about XDG folders, FIFOs, links and memory use.
#include "support/temp_dir.hpp"
#include "update/install.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace orvanta {
namespace {

using test::ScopedEnv;
using test::TempDir;

TEST(InstallDirectory, FollowsXdgDataHomeThenHome) {
    {
        ScopedEnv data("XDG_DATA_HOME", "/data/Jörg's files");
        ScopedEnv home("HOME", "/home/player");
        EXPECT_EQ(resolveInstallDirectory(), "/data/Jörg's files/Orvanta");
    }
    {
        // A relative XDG_DATA_HOME is invalid and must be ignored, like an empty one.
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv home("HOME", "/home/player/");
        EXPECT_EQ(resolveInstallDirectory(), "/home/player/.local/share/Orvanta");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", "");
        ScopedEnv home("HOME", "/home/player");
        EXPECT_EQ(resolveInstallDirectory(), "/home/player/.local/share/Orvanta");
    }
    {
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv home("HOME", nullptr);
        EXPECT_EQ(resolveInstallDirectory(), "Orvanta");
    }
}

TEST(JoinPath, PutsASlashBetweenFolderAndName) {
    EXPECT_EQ(joinPath("/data/Orvanta", "version.txt"), "/data/Orvanta/version.txt");
}

// A damaged record (a FIFO, a huge file, a link out of the folder) reads as none, at once and
// without reading it whole; a write replaces a link instead of writing through it.
TEST(VersionRecord, OnlyARegularFileIsReadAndLinksAreNeverWrittenThrough) {
    TempDir dir;
    const std::string path = dir.file("version.txt");
    const std::string outside = dir.file("outside");
    test::writeFile(outside, "9.9");

    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(readTrimmedFile(path), "");
    std::filesystem::remove(path);

    test::writeFile(path, "");
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    std::filesystem::resize_file(path, 1ull << 30); // sparse
    EXPECT_EQ(readTrimmedFile(path), "");
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "kilobytes";
    std::filesystem::remove(path);

    std::filesystem::create_symlink(outside, path);
    EXPECT_EQ(readTrimmedFile(path), "");
    std::filesystem::create_symlink(outside, path + ".new"); // a leftover temporary name
    ASSERT_TRUE(writeTextFile(path, "2.0"));
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readTrimmedFile(path), "2.0");
    EXPECT_EQ(test::readFile(outside), "9.9");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path + ".new")));
}

} // namespace
} // namespace orvanta
