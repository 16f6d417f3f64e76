#include "platform/sha256.hpp"
#include "support/temp_dir.hpp"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>

namespace orvanta {
namespace {

using test::TempDir;
using test::writeFile;

std::string digestOf(const TempDir& dir, const std::string& bytes) {
    const std::string path = dir.file("input");
    writeFile(path, bytes);
    return sha256File(path);
}

TEST(Sha256File, MatchesKnownDigestsAcrossBlockBoundaries) {
    TempDir dir;
    EXPECT_EQ(digestOf(dir, ""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestOf(dir, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // One whole read buffer, and one byte more: the tail must be hashed exactly once.
    EXPECT_EQ(digestOf(dir, std::string(8192, 'a')),
              "dd4e6730520932767ec0a9e33fe19c4ce24399d6eba4ff62f13013c9ed30ef87");
    EXPECT_EQ(digestOf(dir, std::string(8193, 'a')),
              "9c10c48d1f1d6618db88fde2c25409181c9201ed34ec6815d62bcf57c10d177b");
    EXPECT_EQ(digestOf(dir, std::string(65536, 'a')),
              "bf718b6f653bebc184e1479f1935b8da974d701b893afcf49e701f3e2f9f9c5a");
    EXPECT_EQ(digestOf(dir, std::string(65537, 'a')),
              "008ffc88d3c96a9f307524eb361e47c5222a887fc45fa0c1fb8d429c5c23b430");
}

TEST(Sha256File, IsAlwaysLowerCaseHex) {
    TempDir dir;
    for (const std::string bytes : {"x", "The quick brown fox", "\xff\xfe\x00\x01"}) {
        const std::string digest = digestOf(dir, bytes);
        ASSERT_EQ(digest.size(), 64u);
        EXPECT_TRUE(std::all_of(digest.begin(), digest.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f');
        })) << digest;
    }
}

TEST(Sha256Bytes, AgreesWithTheFileDigest) {
    TempDir dir;
    for (const std::string& bytes :
         {std::string(), std::string("abc"), std::string(8193, 'a'), std::string("\0\xff", 2)}) {
        const auto digest = sha256Bytes(bytes);
        ASSERT_TRUE(digest.has_value());
        std::string hex;
        for (const unsigned char byte : *digest) {
            hex += "0123456789abcdef"[byte >> 4];
            hex += "0123456789abcdef"[byte & 0x0F];
        }
        EXPECT_EQ(hex, digestOf(dir, bytes)) << bytes.size() << " bytes";
    }
}

// A FIFO: posix/sha256_test.cpp.
TEST(Sha256File, UnreadableInputGivesEmptyText) {
    TempDir dir;
    EXPECT_EQ(sha256File(dir.file("missing")), "");
    EXPECT_EQ(sha256File(""), "");
    // A folder opens but cannot be read.
    EXPECT_EQ(sha256File(dir.path()), "");
}

} // namespace
} // namespace orvanta
