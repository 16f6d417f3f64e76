#include "update/manifest.hpp"

#include <gtest/gtest.h>
#include <utility>

namespace orvanta {
namespace {

TEST(ParseManifest, ReadsEveryFieldAndIgnoresOtherKeys) {
    const auto manifest = parseManifest(R"({
        "changelog": "Line one\nCarrots \u00e9t\u00e9",
        "game_version": "1.4.2", "game_url": "https://cdn.example/Orvanta-1.4.2.exe",
        "game_sha256": "ABCDEF", "launcher_version": "2.0",
        "launcher_url": "https://cdn.example/launcher", "launcher_sha256": "00ff",
        "game_chunks_url": "https://cdn.example/Orvanta-1.4.2.chunks", "game_chunks_sha256": "0a",
        "future_field": {"nested": [1, 2, null]}, "Game_Version": 7
    })");
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->game_version, "1.4.2");
    EXPECT_EQ(manifest->game_url, "https://cdn.example/Orvanta-1.4.2.exe");
    EXPECT_EQ(manifest->game_sha256, "ABCDEF");
    EXPECT_EQ(manifest->launcher_version, "2.0");
    EXPECT_EQ(manifest->launcher_url, "https://cdn.example/launcher");
    EXPECT_EQ(manifest->launcher_sha256, "00ff");
    EXPECT_EQ(manifest->game_chunks_url, "https://cdn.example/Orvanta-1.4.2.chunks");
    EXPECT_EQ(manifest->game_chunks_sha256, "0a");
    EXPECT_EQ(manifest->changelog, "Line one\nCarrots \xC3\xA9t\xC3\xA9");
}

TEST(ParseManifest, OnlyVersionAndUrlAreRequired) {
    const auto manifest = parseManifest(R"({"game_version":" v1 ","game_url":"http://h/g"})");
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(manifest->game_version, " v1 "); // taken as it stands
    EXPECT_EQ(manifest->game_sha256, "");
    EXPECT_EQ(manifest->changelog, "");

    EXPECT_FALSE(parseManifest(R"({"game_version":"","game_url":"http://h/g"})"));
    EXPECT_FALSE(parseManifest(R"({"game_url":"http://h/g"})"));
    EXPECT_FALSE(parseManifest(R"({"game_version":"1","game_url":""})"));
    EXPECT_FALSE(parseManifest(R"({"game_version":"1"})"));
    EXPECT_FALSE(parseManifest(R"({"GAME_VERSION":"1","game_url":"http://h/g"})"));
}

TEST(ParseManifest, RejectsAnyOtherTypeUnderAKnownKey) {
    for (const char* key : {"game_version", "game_url", "game_sha256", "launcher_version",
                            "launcher_url", "launcher_sha256", "changelog", "game_chunks_url",
                            "game_chunks_sha256", "game_size", "launcher_size"}) {
        for (const char* value : {"null", "1", "true", "false", "[]", "{}", "[\"1\"]"}) {
            std::string text = R"({"game_version":"1","game_url":"http://h/g",")";
            text += key;
            text += "\":";
            text += value;
            text += "}";
            EXPECT_FALSE(parseManifest(text)) << text;
        }
    }
}

TEST(ParseManifest, SizesAreDecimalDigitsWithin64Bits) {
    using Size = std::optional<std::uint64_t> UpdateManifest::*;
    for (const auto& [key, size] :
         {std::pair<std::string, Size>{"game_size", &UpdateManifest::game_size},
          {"launcher_size", &UpdateManifest::launcher_size}}) {
        const std::string head = R"({"game_version":"1","game_url":"http://h/g",")" + key + "\":";
        EXPECT_FALSE(*parseManifest(head.substr(0, head.rfind(',')) + "}").*size);
        EXPECT_EQ(*parseManifest(head + R"("0"})").*size, 0u) << key;
        EXPECT_EQ(*parseManifest(head + R"("18446744073709551615"})").*size, UINT64_MAX) << key;
        for (const char* bad : {R"("")", R"("-1")", R"("+1")", R"(" 1")", R"("1e3")", R"("0x10")",
                                R"("18446744073709551616")", R"("1.0")"}) {
            EXPECT_FALSE(parseManifest(head + bad + "}")) << key << bad;
        }
    }
}

TEST(ParseManifest, IsStrictAboutTheDocument) {
    const std::string valid = R"({"game_version":"1","game_url":"http://h/g"})";
    EXPECT_TRUE(parseManifest(valid));
    EXPECT_TRUE(parseManifest(" \r\n\t" + valid + "\n "));
    EXPECT_TRUE(parseManifest("\xEF\xBB\xBF" + valid)); // byte-order mark

    EXPECT_FALSE(parseManifest(""));
    EXPECT_FALSE(parseManifest("   "));
    EXPECT_FALSE(parseManifest("<html><body>502 Bad Gateway</body></html>"));
    EXPECT_FALSE(parseManifest(R"([{"game_version":"1","game_url":"http://h/g"}])"));
    EXPECT_FALSE(parseManifest("\"just a string\""));
    EXPECT_FALSE(parseManifest(valid + valid));
    EXPECT_FALSE(parseManifest(valid + " {}"));
    EXPECT_FALSE(parseManifest(valid + " x"));
    EXPECT_FALSE(parseManifest("// note\n" + valid));
    EXPECT_FALSE(parseManifest(R"({"game_version":"1", /* c */ "game_url":"http://h/g"})"));
    EXPECT_FALSE(parseManifest(R"({"game_version":"1","game_url":"http://h/g",})"));
    EXPECT_FALSE(parseManifest(std::string(valid.data(), valid.size() - 1)));
    // Nothing may follow a NUL byte unseen.
    EXPECT_FALSE(parseManifest(valid + '\0' + "<html><body>502 Bad Gateway</body></html>"));
    EXPECT_FALSE(parseManifest(valid + '\0' + valid));
    EXPECT_FALSE(parseManifest(valid + std::string(100, '\0')));

    // A name given twice in any one object, even spelt with an escape.
    const std::string twice = R"({"game_version":"1","game_url":"http://h/g",)";
    EXPECT_FALSE(parseManifest(twice + R"("game_url":"http://h/g"})"));
    EXPECT_FALSE(parseManifest(twice + R"("game_url":"http://other/g"})"));
    EXPECT_FALSE(parseManifest(twice + R"("game_url":7})"));
    EXPECT_FALSE(parseManifest(R"({"game_url":null,)" + valid.substr(1)));
    EXPECT_FALSE(parseManifest(twice + R"("\u0067ame_url":"http://other/g"})"));
    EXPECT_FALSE(parseManifest(twice + R"("x":[{"a":{"b":1,"c":{},"b":2}}]})"));
    EXPECT_TRUE(parseManifest(twice + R"("x":{"game_url":1,"y":{"game_url":2}},"y":[{"x":1}]})"));
}

TEST(ParseManifest, RejectsBytesThatAreNotUtf8) {
    EXPECT_FALSE(parseManifest("{\"game_version\":\"1\xFF\",\"game_url\":\"http://h/g\"}"));
    EXPECT_FALSE(parseManifest("{\"game_version\":\"\xC3\",\"game_url\":\"http://h/g\"}"));
    EXPECT_FALSE(parseManifest("{\"changelog\":\"\xED\xA0\x80\",\"game_version\":\"1\","
                               "\"game_url\":\"http://h/g\"}"));
    EXPECT_FALSE(parseManifest(std::string("{\"game_version\":\"1\0\",\"game_url\":\"x\"}", 36)));
    EXPECT_TRUE(parseManifest(R"({"game_version":"1\u0000","game_url":"x"})")); // written out
}

TEST(ParseManifest, SurvivesDeepNesting) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_FALSE(parseManifest(deep));
    const std::string deepValue = R"({"game_version":"1","game_url":"http://h/g","x":)" +
                                  std::string(50000, '[') + std::string(50000, ']') + "}";
    EXPECT_TRUE(parseManifest(deepValue));
}

} // namespace
} // namespace orvanta
