#include "platform/posix/signing_key.hpp"
#include "platform/signature.hpp"
#include "publish/publish.hpp"
#include "publish_fixture.hpp"
#include "support/temp_dir.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/signed_manifest.hpp"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvanta::publish {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// SHA-256 of "abc" and of "abcd", computed independently of the code under test.
constexpr const char* sha256Abc =
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
constexpr const char* sha256Abcd =
    "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589";

TEST(PublishBuild, WritesTheGameAndAManifestTheLauncherAccepts) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    const PublishOutcome outcome = publishBuild(requestFor(dir, "1.2.0"));
    ASSERT_EQ(outcome.error, "");

    const std::string channel = dir.file("out/orvanta-downloads");
    EXPECT_EQ(shapesIn(channel),
              (std::set<std::string>{"Orvanta-1.2.0-*.exe", "Orvanta-1.2.0-*.pack",
                                     "Orvanta-1.2.0-*.chunks", "manifest.json"}));
    EXPECT_EQ(readFile(channel + "/Orvanta-1.2.0-ba7816bf8f01.exe"), "abc");

    const std::string json = readFile(channel + "/manifest.json");
    const auto parsed = parseManifest(json);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->game_version, "1.2.0");
    EXPECT_EQ(parsed->game_url,
              "https://cdn.example.test/games/orvanta-downloads/Orvanta-1.2.0-ba7816bf8f01.exe");
    EXPECT_EQ(parsed->game_sha256, sha256Abc);
    EXPECT_NE(json.find(R"("game_size": "3")"), std::string::npos);
    EXPECT_EQ(parsed->game_size, 3u);
    EXPECT_EQ(parsed->changelog, "");
    // Without a launcher build the launcher keys are absent rather than announcing nothing.
    EXPECT_EQ(json.find("launcher_"), std::string::npos);
    EXPECT_EQ(json.find("channel"), std::string::npos); // only a signed manifest names it
    EXPECT_EQ(outcome.result.manifestUrl,
              "https://cdn.example.test/games/orvanta-downloads/manifest.json");
}

TEST(PublishBuild, AnnouncesALauncherBuildBesideTheGame) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    writeFile(dir.file("launcher"), "abcd");
    PublishRequest request = requestFor(dir, "2.0");
    request.baseUrl = "http://127.0.0.1:8080";
    request.launcherPath = dir.file("launcher");
    request.launcherVersion = "1.1";
    ASSERT_EQ(publishBuild(request).error, "");

    const std::string channel = dir.file("out/orvanta-downloads");
    EXPECT_EQ(
        shapesIn(channel),
        (std::set<std::string>{"Orvanta-2.0-*.exe", "Orvanta-2.0-*.pack", "Orvanta-2.0-*.chunks",
                               "orvanta-launcher-1.1-*", "manifest.json"}));
    const auto parsed = parseManifest(readFile(channel + "/manifest.json"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->launcher_version, "1.1");
    EXPECT_EQ(parsed->launcher_url,
              "http://127.0.0.1:8080/orvanta-downloads/orvanta-launcher-1.1-88d4266fd4e6");
    EXPECT_EQ(parsed->launcher_sha256, sha256Abcd);
    EXPECT_EQ(parsed->launcher_size, 4u);
    EXPECT_EQ(parsed->game_sha256, sha256Abc);
}

TEST(PublishBuild, ChangelogSurvivesJsonEscapingAndIsTidied) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    writeFile(dir.file("changes.txt"),
              "\xEF\xBB\xBF"
              "Fixed \"quotes\" and C:\\paths\r\n\ttabs, </script>, Gr\xC3\xBC\xC3\x9F"
              "e \xF0\x9F\x8C\xBE\r\n\r\n");
    PublishRequest request = requestFor(dir, "1.0");
    request.changelogPath = dir.file("changes.txt");
    ASSERT_EQ(publishBuild(request).error, "");

    const auto parsed = parseManifest(readFile(dir.file("out/orvanta-downloads/manifest.json")));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->changelog, "Fixed \"quotes\" and C:\\paths\n\ttabs, </script>, "
                                 "Gr\xC3\xBC\xC3\x9F"
                                 "e \xF0\x9F\x8C\xBE");
}

TEST(PublishBuild, EachVersionGetsItsOwnFileAndEarlierBuildsStay) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    writeFile(dir.file("game.exe"), "abcd");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.1")).error, "");

    const std::string channel = dir.file("out/orvanta-downloads");
    EXPECT_EQ(shapesIn(channel), (std::set<std::string>{"Orvanta-1.0-*.exe", "Orvanta-1.0-*.pack",
                                                        "Orvanta-1.0-*.chunks", "Orvanta-1.1-*.exe",
                                                        "Orvanta-1.1-*.pack",
                                                        "Orvanta-1.1-*.chunks", "manifest.json"}));
    EXPECT_EQ(readFile(channel + "/Orvanta-1.0-ba7816bf8f01.exe"), "abc");
    const auto parsed = parseManifest(readFile(channel + "/manifest.json"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->game_version, "1.1");
    EXPECT_EQ(parsed->game_sha256, sha256Abcd);
}

// A name never holds two contents: a version published again with other bytes gets files of
// its own, and what a player or a cache holds under the earlier names stays as it is.
TEST(PublishBuild, RepublishingAVersionWritesNewFilesAndRewritesNone) {
    TempDir dir;
    const std::string channel = dir.file("out/orvanta-downloads");
    writeFile(dir.file("game.exe"), "abc");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    std::map<std::string, std::string> before;
    for (const std::string& name : filesIn(channel)) {
        before[name] = readFile(channel + "/" + name);
    }

    writeFile(dir.file("game.exe"), "abcd");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    for (const auto& [name, contents] : before) {
        if (name != "manifest.json") {
            EXPECT_EQ(readFile(channel + "/" + name), contents) << name;
        }
    }
    EXPECT_EQ(filesIn(channel).size(), 7u);
    const std::string game = channel + "/Orvanta-1.0-88d4266fd4e6.exe";
    const auto parsed = parseManifest(readFile(channel + "/manifest.json"));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->game_url,
              "https://cdn.example.test/games/orvanta-downloads/Orvanta-1.0-88d4266fd4e6.exe");
    EXPECT_EQ(parsed->game_sha256, sha256Abcd);
    const std::string index = parsed->game_chunks_url.substr(parsed->game_chunks_url.rfind('/'));
    EXPECT_EQ(parseChunkIndex(readFile(channel + index))->packName,
              "Orvanta-1.0-88d4266fd4e6.pack");

    // Publishing the same bytes again leaves the file itself alone.
    struct stat first {};
    struct stat second {};
    ASSERT_EQ(::stat(game.c_str(), &first), 0);
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    ASSERT_EQ(::stat(game.c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    // A damaged copy under the name is put right.
    writeFile(game, "ab");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    EXPECT_EQ(readFile(game), "abcd");
}

TEST(PublishBuild, AFailedPublicationLeavesTheServedManifestAsItWas) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    ASSERT_EQ(publishBuild(requestFor(dir, "1.0")).error, "");
    const std::string manifestPath = dir.file("out/orvanta-downloads/manifest.json");
    const std::string before = readFile(manifestPath);

    PublishRequest badChangelog = requestFor(dir, "1.1");
    writeFile(dir.file("changes.txt"), "caf\xE9"); // Latin-1, not UTF-8
    badChangelog.changelogPath = dir.file("changes.txt");
    EXPECT_NE(publishBuild(badChangelog).error.find("not UTF-8"), std::string::npos);

    PublishRequest missingGame = requestFor(dir, "1.1");
    missingGame.gamePath = dir.file("nothing.exe");
    EXPECT_NE(publishBuild(missingGame).error.find("game file not found"), std::string::npos);

    // The copy itself fails (a folder holds the game file's name, even for root): no manifest may
    // go live naming a file that is not there.
    // ("abc" is stored raw: its pack holds the same bytes and so gets the same digest.)
    const std::string newFiles = dir.file("out/orvanta-downloads/Orvanta-1.1-ba7816bf8f01");
    std::filesystem::create_directory(newFiles + ".exe");
    EXPECT_NE(publishBuild(requestFor(dir, "1.1")).error.find("cannot write"), std::string::npos);
    // Likewise when the pack cannot be put in place: no index may name it.
    std::filesystem::remove(newFiles + ".exe");
    std::filesystem::create_directory(newFiles + ".pack");
    EXPECT_NE(publishBuild(requestFor(dir, "1.1")).error.find("cannot write"), std::string::npos);

    EXPECT_EQ(readFile(manifestPath), before);
    EXPECT_EQ(
        shapesIn(dir.file("out/orvanta-downloads")),
        (std::set<std::string>{"Orvanta-1.0-*.exe", "Orvanta-1.0-*.pack", "Orvanta-1.0-*.chunks",
                               "Orvanta-1.1-*.exe", "Orvanta-1.1-*.pack", "manifest.json"}));
}

std::string signingData(const std::string& name) {
    return readFile(std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/" + name);
}

// Whether line i of the channel's signature file verifies manifest with publicKey.
bool signs(const std::string& channel, std::size_t i, const std::string& manifest,
           const std::string& publicKey) {
    const auto lines = parseSignatureFile(readFile(channel + "/manifest.json.sig"));
    return lines && i < lines->size() && verifySignature(manifest, (*lines)[i], publicKey);
}

// Each signed publication: its published_at, its line first, then the replaced manifest's line,
// also across a change of key.
TEST(PublishSigned, SignsEachManifestAndKeepsTheReplacedOnesLine) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    const std::string keyA = signingData("studio-a.pub.pem");
    const std::string keyB = signingData("studio-b.pub.pem");
    const std::string channel = dir.file("out/orvanta-downloads");
    struct Step {
        const char* version;
        const char* key;
        std::time_t now;
        const char* publishedAt;
        std::size_t lines;
        bool allowClockBehind = false;
        unsigned expiresInDays = 0;
        const char* expiresAt = nullptr; // with expiresInDays
    };
    std::string previous;
    std::string previousKey;
    for (const Step& step :
         std::vector<Step>{{"1.0", "studio-a.pem", 1717318200, "2024-06-02T08:50:00Z", 1},
                           {"1.1", "studio-a.pem", 1717320600, "2024-06-02T09:30:00Z", 2},
                           {"1.1", "studio-a.pem", 1717320600, "2024-06-02T09:30:00Z", 2},
                           // A new key cannot tell the old manifest's line: all old lines stay.
                           {"1.2", "studio-b.pem", 1717407000, "2024-06-03T09:30:00Z", 3},
                           // A clock behind the channel's date: dated at the clock, and the
                           // next publication, still before that date, needs no flag.
                           {"1.3", "studio-b.pem", 1717400000, "2024-06-03T07:33:20Z", 2, true},
                           {"1.3.1", "studio-b.pem", 1717403000, "2024-06-03T08:23:20Z", 2},
                           {"1.4", "studio-b.pem", 1717493400, "2024-06-04T09:30:00Z", 2, false, 30,
                            "2024-07-04T09:30:00Z"}}) {
        SCOPED_TRACE(step.version);
        PublishRequest request = requestFor(dir, step.version);
        request.signingKeyPath =
            std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/" + step.key;
        request.now = step.now;
        request.allowClockBehind = step.allowClockBehind;
        request.expiresInDays = step.expiresInDays;
        const PublishOutcome outcome = publishBuild(request);
        ASSERT_EQ(outcome.error, "");
        const std::string manifest = readFile(channel + "/manifest.json");
        EXPECT_EQ(manifestPublishedAt(manifest), step.publishedAt);
        EXPECT_EQ(parseManifest(manifest)->game_size, 3u);
        EXPECT_EQ(manifest.find("expires_at") != std::string::npos, step.expiresAt != nullptr);
        if (step.expiresAt != nullptr) {
            EXPECT_NE(manifest.find(std::string(R"("expires_at": ")") + step.expiresAt),
                      std::string::npos);
        }
        EXPECT_EQ(manifestChannel(manifest),
                  "https://cdn.example.test/games/orvanta-downloads/manifest.json");
        const std::string& newKey = std::string(step.key) == "studio-a.pem" ? keyA : keyB;
        EXPECT_TRUE(signs(channel, 0, manifest, newKey));
        EXPECT_EQ(parseSignatureFile(readFile(channel + "/manifest.json.sig"))->size(), step.lines);
        if (!previous.empty()) {
            EXPECT_TRUE(signs(channel, 1, previous, previousKey));
        }
        previous = manifest;
        previousKey = newKey;
    }
    // Six builds (1.1 twice with the same bytes) with their chunk files, the manifest and its
    // signatures.
    EXPECT_EQ(filesIn(channel).size(), 20u);

    // Signing the live manifest again: new dates, the same build, the replaced line carried on.
    const std::string gamePath = channel + "/" + digestNamed(channel, "Orvanta-1.4", ".exe");
    const std::string game = readFile(gamePath);
    for (const unsigned days : {7u, 0u}) {
        ResignRequest resign;
        resign.signingKeyPath =
            std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/studio-b.pem";
        resign.outDirectory = dir.file("out");
        resign.now = days != 0 ? 1717579800 : 1717579807;
        resign.expiresInDays = days;
        ASSERT_EQ(resignManifest(resign).error, "");
        const std::string manifest = readFile(channel + "/manifest.json");
        EXPECT_EQ(manifestPublishedAt(manifest),
                  days != 0 ? "2024-06-05T09:30:00Z" : "2024-06-05T09:30:07Z");
        EXPECT_EQ(manifest.find("2024-06-12T09:30:00Z") != std::string::npos, days != 0);
        EXPECT_EQ(manifest.find("expires_at") != std::string::npos, days != 0);
        EXPECT_EQ(parseManifest(manifest)->game_url, parseManifest(previous)->game_url);
        EXPECT_EQ(manifestChannel(manifest), manifestChannel(previous));
        EXPECT_TRUE(signs(channel, 0, manifest, keyB));
        EXPECT_TRUE(signs(channel, 1, previous, keyB));
        EXPECT_EQ(readFile(gamePath), game);
        previous = manifest;
    }
    EXPECT_EQ(filesIn(channel).size(), 20u);
}

// Two publications into one channel at once take turns: after each round the signature file
// covers the manifest beside it.
TEST(PublishSigned, PublicationsIntoOneChannelTakeTurns) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    const std::string channel = dir.file("out/orvanta-downloads");
    for (int round = 0; round < 4; ++round) {
        std::vector<std::string> errors(2);
        std::vector<std::thread> publishers;
        for (std::size_t i = 0; i < 2; ++i) {
            publishers.emplace_back([&, i] {
                PublishRequest request =
                    requestFor(dir, std::to_string(round) + "." + std::to_string(i));
                request.signingKeyPath =
                    std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/studio-a.pem";
                request.chunks = false;
                errors[i] = publishBuild(request).error;
            });
        }
        for (std::thread& publisher : publishers) {
            publisher.join();
        }
        EXPECT_EQ(errors, std::vector<std::string>(2)) << "round " << round;
        EXPECT_TRUE(signs(channel, 0, readFile(channel + "/manifest.json"),
                          signingData("studio-a.pub.pem")))
            << "round " << round;
    }
    EXPECT_EQ(readFile(channel + "/" + lockFileName), "");
}

TEST(PublishSigned, RefusesWhatLaunchersWouldRefuseAndLeavesTheChannelAlone) {
    TempDir dir;
    writeFile(dir.file("game.exe"), "abc");
    PublishRequest first = requestFor(dir, "1.0");
    first.signingKeyPath = std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/studio-a.pem";
    first.now = 1717320600;
    ASSERT_EQ(publishBuild(first).error, "");
    const std::string channel = dir.file("out/orvanta-downloads");
    const std::string manifest = readFile(channel + "/manifest.json");
    const std::string signatures = readFile(channel + "/manifest.json.sig");

    struct Case {
        std::string key;
        std::time_t now;
        std::string error;
    };
    const std::string data = std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/";
    for (const Case& c : std::vector<Case>{
             {data + "studio-a.pub.pem", 0, "not an unencrypted PEM ECDSA P-256 private key"},
             {data + "none.pem", 0, "signing key not found"},
             {first.signingKeyPath, first.now - 1, "later than this machine's clock"},
             {"", 0, "publish with --signing-key"}}) {
        PublishRequest request = requestFor(dir, "1.1");
        request.signingKeyPath = c.key;
        request.now = c.now;
        EXPECT_NE(publishBuild(request).error.find(c.error), std::string::npos) << c.error;
        EXPECT_EQ(readFile(channel + "/manifest.json"), manifest);
        EXPECT_EQ(readFile(channel + "/manifest.json.sig"), signatures);
    }
}

TEST(PublishSigned, KeygenWritesAPrivateKeyOnlyItsOwnerReadsAndNeverReplacesOne) {
    TempDir dir;
    const KeygenOutcome keys = writeSigningKeyPair(dir.file("keys"));
    ASSERT_EQ(keys.error, "");
    struct stat privateInfo {};
    struct stat publicInfo {};
    ASSERT_EQ(::stat(keys.privateKeyPath.c_str(), &privateInfo), 0);
    ASSERT_EQ(::stat(keys.publicKeyPath.c_str(), &publicInfo), 0);
    EXPECT_EQ(privateInfo.st_mode & 0777, 0600u);
    EXPECT_EQ(publicInfo.st_mode & 0777, 0644u);
    const std::string signature = signData("manifest", readFile(keys.privateKeyPath));
    EXPECT_TRUE(verifySignature("manifest", signature, readFile(keys.publicKeyPath)));

    const std::string before = readFile(keys.privateKeyPath);
    EXPECT_NE(writeSigningKeyPair(dir.file("keys")).error.find("already exists"),
              std::string::npos);
    EXPECT_EQ(readFile(keys.privateKeyPath), before);
}

TEST(PublishNames, VersionsAndDigestsBecomeDistinctSafeFileNames) {
    EXPECT_EQ(digestFileName(gameFileStem("1.2.0"), sha256Abc, ".exe"),
              "Orvanta-1.2.0-ba7816bf8f01.exe");
    EXPECT_EQ(gameFileStem("2024-06-01_rc1"), "Orvanta-2024-06-01_rc1");
    EXPECT_EQ(digestFileName(launcherFileStem("1.1"), sha256Abcd, ""),
              "orvanta-launcher-1.1-88d4266fd4e6");

    for (const std::string& version :
         {std::string("../../etc/passwd"), std::string("1.0 beta"), std::string("v/1"),
          std::string("caf\xC3\xA9"), std::string(300, '9')}) {
        const std::string name = gameFileStem(version);
        EXPECT_EQ(name.find('/'), std::string::npos) << name;
        EXPECT_EQ(name.find(' '), std::string::npos) << name;
        EXPECT_LT(name.size(), 90u) << name;
    }
    // Texts that would sanitize alike still get different files.
    EXPECT_NE(gameFileStem("1.0 beta"), gameFileStem("1.0_beta"));
    EXPECT_NE(gameFileStem("1.0 beta"), gameFileStem("1.0/beta"));
    EXPECT_NE(gameFileStem(std::string(300, '9')), gameFileStem(std::string(301, '9')));
}

TEST(PublishChecks, VersionTexts) {
    EXPECT_FALSE(checkVersion("1.4.2").has_value());
    EXPECT_FALSE(checkVersion("1.0 beta").has_value());
    EXPECT_FALSE(checkVersion("\xC3\xA9t\xC3\xA9").has_value());
    for (const char* bad : {"", " 1.0", "1.0\n", "1.\t0", "1.0\x7F", "\xC3"}) {
        EXPECT_TRUE(checkVersion(bad).has_value()) << bad;
    }
}

TEST(PublishChecks, BaseUrls) {
    EXPECT_EQ(normalizeBaseUrl("https://cdn.example.test").url, "https://cdn.example.test");
    EXPECT_EQ(normalizeBaseUrl("https://cdn.example.test//").url, "https://cdn.example.test");
    EXPECT_EQ(normalizeBaseUrl("HTTP://127.0.0.1:8080/a/b/").url, "HTTP://127.0.0.1:8080/a/b");
    EXPECT_EQ(channelUrl("http://h/x", "f.exe"), "http://h/x/orvanta-downloads/f.exe");
    for (const char* bad :
         {"", "cdn.example.test", "ftp://cdn.example.test", "https://", "https:///files",
          "https://:443/", "https://cdn.example.test/?channel=beta", "https://h/#x",
          "https://h/a b"}) {
        const BaseUrl result = normalizeBaseUrl(bad);
        EXPECT_EQ(result.url, "") << bad;
        EXPECT_NE(result.error, "") << bad;
    }
}

} // namespace
} // namespace orvanta::publish
