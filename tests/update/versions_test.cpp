#include "update/versions.hpp"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(EqualsIgnoreCase, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equalsIgnoreCase("1.2.0-BETA", "1.2.0-beta"));
    EXPECT_TRUE(equalsIgnoreCase("", ""));
    EXPECT_TRUE(equalsIgnoreCase("ABCDEF0123", "abcdef0123"));
    EXPECT_FALSE(equalsIgnoreCase("1.10", "1.9"));
    EXPECT_FALSE(equalsIgnoreCase("1.0", "1.0 "));
    // '@' and '`' sit next to the letters; '[' and '{' likewise. None may fold.
    EXPECT_FALSE(equalsIgnoreCase("@", "`"));
    EXPECT_FALSE(equalsIgnoreCase("[", "{"));
    // Bytes above 0x7F are compared as they are.
    EXPECT_FALSE(equalsIgnoreCase("\xC3\x84", "\xC3\xA4"));
    EXPECT_TRUE(equalsIgnoreCase("\xC3\x84", "\xC3\x84"));
}

} // namespace
} // namespace orvanta
