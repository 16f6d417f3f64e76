#include "app/text_wrap.hpp"
#include "launcher_fixture.hpp"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

TEST(WrapText, BreaksAtTheFirstSpaceOnceALineIsFull) {
    EXPECT_EQ(wrapText("one two three four five", 9), "one two three\nfour five");
    EXPECT_EQ(wrapText("abcdefghij klm", 4), "abcdefghij\nklm"); // words stay whole
    EXPECT_EQ(wrapText("abcd\nc d e", 3), "abcd\nc d\ne");       // line feeds restart the count
    EXPECT_EQ(wrapText("abcdefgh", 8), "abcdefgh");
    EXPECT_EQ(wrapText("abcdefg ", 8), "abcdefg\n");   // a space at the limit becomes the break
    EXPECT_EQ(wrapText("a\tb\rc d", 5), "a\tb\rc\nd"); // tab and return count like any byte
    EXPECT_EQ(wrapText("", 5), "");
    EXPECT_EQ(wrapText("no width at all", 0), "no width at all");
    // Characters, not bytes: five two-byte letters fill a line of width 6 with the space.
    EXPECT_EQ(wrapText("\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4 x", 6),
              "\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\xC3\xA4\nx");
}

TEST(KeepVisiblePart, CutsLinesAndCharactersBeyondTheLimits) {
    EXPECT_EQ(keepVisiblePart("a\nb\nc\nd", 2, 10), "a\nb");
    EXPECT_EQ(keepVisiblePart("abcdef\ngh", 5, 3), "abc\ngh");
    EXPECT_EQ(keepVisiblePart("short", 5, 10), "short");
    // A cut never splits a character's bytes.
    EXPECT_EQ(keepVisiblePart("\xC3\xA4\xC3\xB6\xC3\xBC", 1, 2), "\xC3\xA4\xC3\xB6");
}

using test::LauncherTest;

TEST_F(LauncherTest, AHugeChangelogIsCutToWhatTheWindowCanShow) {
    std::string changelog;
    for (int i = 0; changelog.size() < 2'000'000; ++i) {
        changelog += "crop" + std::to_string(i) + " ";
    }
    changelog += std::string(100'000, 'x');
    auto l = makeLauncher();
    l->setChangelog(changelog);
    const std::string shown = l->changelogText.getString().toAnsiString();
    EXPECT_EQ(shown.substr(0, 64), wrapText(changelog, 62).substr(0, 64));
    EXPECT_LE(shown.size(), 40u * 257u);
    l->runFrame();
}

} // namespace
} // namespace orvanta
