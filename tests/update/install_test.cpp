#include "support/temp_dir.hpp"
#include "update/install.hpp"

#include <gtest/gtest.h>

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

TEST(JoinPath, AddsOneSeparatorOnlyWhenNeeded) {
    EXPECT_EQ(joinPath("/data/Orvanta", "version.txt"), "/data/Orvanta/version.txt");
    EXPECT_EQ(joinPath("/data/Orvanta/", "version.txt"), "/data/Orvanta/version.txt");
    EXPECT_EQ(joinPath("C:\\Orvanta\\", "Orvanta.exe"), "C:\\Orvanta\\Orvanta.exe");
    EXPECT_EQ(joinPath("", "Orvanta.exe"), "Orvanta.exe");
}

TEST(VersionRecord, TrimsExactlyTheSixWhiteSpaceBytes) {
    TempDir dir;
    const std::string path = dir.file("version.txt");
    const auto readBack = [&](const std::string& bytes) {
        test::writeFile(path, bytes);
        return readTrimmedFile(path);
    };
    EXPECT_EQ(readBack("  1.4.2\r\n"), "1.4.2");
    EXPECT_EQ(readBack("\t\v\f 2.0 beta \r\n"), "2.0 beta");
    EXPECT_EQ(readBack("\n"), "");
    EXPECT_EQ(readBack(""), "");
    // Bytes that only look blank in some encodings are content.
    EXPECT_EQ(readBack("\xC2\xA0"
                       "1.0\xC2\xA0"),
              "\xC2\xA0"
              "1.0\xC2\xA0");
    EXPECT_EQ(readBack(std::string("\0"
                                   "1.0",
                                   4)),
              std::string("\0"
                          "1.0",
                          4));
    EXPECT_EQ(readTrimmedFile(dir.file("missing")), "");
    EXPECT_EQ(readTrimmedFile(dir.path()), "");
}

TEST(VersionRecord, WriteReplacesTheWholeFileWithTheExactBytes) {
    TempDir dir;
    const std::string path = dir.file("version.txt");
    test::writeFile(path, "an older and much longer version text\n");
    ASSERT_TRUE(writeTextFile(path, "1.2.3"));
    EXPECT_EQ(test::readFile(path), "1.2.3");
    ASSERT_TRUE(writeTextFile(path, "v\n2\r\n"));
    EXPECT_EQ(test::readFile(path), "v\n2\r\n");
    EXPECT_FALSE(writeTextFile(dir.file("no-such-folder/version.txt"), "1.0"));
}

} // namespace
} // namespace orvanta
