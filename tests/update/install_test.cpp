#include "platform/paths.hpp"
#include "support/temp_dir.hpp"
#include "update/install.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace orvanta {
namespace {

using test::TempDir;

// The separator each platform puts in: posix/install_test.cpp and windows/install_test.cpp.
TEST(JoinPath, AddsOneSeparatorOnlyWhenNeeded) {
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

// A damaged record (a huge file) reads as none; FIFOs, links and the memory a huge file takes:
// posix/install_test.cpp.
TEST(VersionRecord, OnlyASmallFileIsRead) {
    TempDir dir;
    const std::string path = dir.file("version.txt");
    test::writeFile(path, std::string(4096, '7'));
    EXPECT_EQ(readTrimmedFile(path), std::string(4096, '7'));
    test::writeFile(path, std::string(4097, '7'));
    EXPECT_EQ(readTrimmedFile(path), "");
    std::filesystem::resize_file(nativePath(path), 1ull << 30); // sparse
    EXPECT_EQ(readTrimmedFile(path), "");
}

} // namespace
} // namespace orvanta
