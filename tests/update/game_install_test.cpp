#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"
#include "update/update_check.hpp"

#include <cctype>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace orvanta {
namespace {

using test::LoopbackServer;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string newGame = "#!/bin/sh\necho new build\n";

std::string toUpper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

class GameInstall : public testing::Test {
  protected:
    void SetUp() override {
        server.server().Get("/game", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(newGame, "application/octet-stream");
        });
        // Plants a link under the temporary file's name after the launcher cleared it and before
        // the answer arrives that makes it create the file.
        server.server().Get("/planted", [this](const httplib::Request&, httplib::Response& res) {
            std::filesystem::create_symlink(outside, downloadPath);
            res.set_content(newGame, "application/octet-stream");
        });
        server.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        server.start();
        writeFile(exePath, "old build", true);
        writeFile(versionPath, "1.0");
        digest = sha256OfNewGame();
    }

    std::string sha256OfNewGame() {
        writeFile(dir.file("reference"), newGame);
        return sha256File(dir.file("reference"));
    }

    UpdateManifest manifest(const std::string& path, const std::string& sha) {
        UpdateManifest m;
        m.game_version = "2.0";
        m.game_url = server.url(path);
        m.game_sha256 = sha;
        return m;
    }

    std::string install(const UpdateManifest& m) {
        return installGameBuild(
            m, exePath, versionPath,
            [this](std::uint64_t received, std::uint64_t total) {
                progress.emplace_back(received, total);
            },
            [this] { ++verifyingCalls; });
    }

    void expectUntouched() {
        EXPECT_EQ(readFile(exePath), "old build");
        EXPECT_EQ(readFile(versionPath), "1.0");
        EXPECT_FALSE(test::fileExists(downloadPath));
    }

    TempDir dir;
    LoopbackServer server;
    std::string exePath = dir.file("Orvanta.exe");
    std::string versionPath = dir.file("version.txt");
    std::string downloadPath = exePath + ".download";
    std::string outside = dir.file("outside-the-folder");
    std::string digest;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    int verifyingCalls = 0;
};

TEST_F(GameInstall, InstallsAVerifiedBuildAsAnExecutableAndRecordsItsVersion) {
    writeFile(downloadPath, "stale leftover from a killed launcher");
    std::string upper = toUpper(digest);
    EXPECT_EQ(install(manifest("/game", upper)), "");
    EXPECT_EQ(readFile(exePath), newGame);
    EXPECT_EQ(readFile(versionPath), "2.0");
    EXPECT_FALSE(test::fileExists(downloadPath));
    EXPECT_EQ(verifyingCalls, 1);
    struct stat info {};
    ASSERT_EQ(stat(exePath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().first, newGame.size());
    EXPECT_EQ(progress.back().second, newGame.size());
}

TEST_F(GameInstall, WithoutADigestInstallsWhateverArrivesUnverified) {
    EXPECT_EQ(install(manifest("/game", "")), "");
    EXPECT_EQ(readFile(exePath), newGame);
    EXPECT_EQ(verifyingCalls, 0);
}

TEST_F(GameInstall, FailuresLeaveTheInstalledGameAndRecordAsTheyWere) {
    writeFile(downloadPath, "leftover");
    EXPECT_EQ(install(manifest("/missing", digest)), downloadFailedMessage);
    expectUntouched();
    EXPECT_TRUE(progress.empty());

    EXPECT_EQ(install(manifest("/game", std::string(64, '0'))), verificationFailedMessage);
    expectUntouched();
    EXPECT_EQ(install(manifest("/game", digest.substr(0, 63))), verificationFailedMessage);
    expectUntouched();

    EXPECT_EQ(install(manifest("/game", digest + "0")), verificationFailedMessage);
    expectUntouched();
}

TEST_F(GameInstall, ARenameThatFailsKeepsTheOldGame) {
    // A non-empty folder where the executable belongs cannot be replaced by a file.
    std::filesystem::remove(exePath);
    std::filesystem::create_directory(exePath);
    writeFile(exePath + "/keep", "x");
    EXPECT_EQ(install(manifest("/game", digest)), installFailedMessage);
    EXPECT_TRUE(test::fileExists(exePath + "/keep"));
    EXPECT_EQ(readFile(versionPath), "1.0");
    EXPECT_FALSE(test::fileExists(downloadPath));
}

TEST_F(GameInstall, NeverWritesThroughALinkAtTheTemporaryName) {
    writeFile(outside, "not the launcher's");
    EXPECT_EQ(install(manifest("/planted", digest)), downloadFailedMessage);
    expectUntouched();
    EXPECT_EQ(readFile(outside), "not the launcher's");

    // Leftovers of any kind are cleared before the download.
    const std::vector<std::function<void()>> leftovers = {
        [&] { std::filesystem::create_symlink(outside, downloadPath); },
        [&] { std::filesystem::create_symlink(dir.path(), downloadPath); },
        [&] {
            std::filesystem::create_directory(downloadPath);
            writeFile(downloadPath + "/inside", "x");
        }};
    for (const auto& plant : leftovers) {
        plant();
        EXPECT_EQ(install(manifest("/game", digest)), "");
        EXPECT_EQ(readFile(exePath), newGame);
        EXPECT_FALSE(std::filesystem::is_symlink(exePath));
        EXPECT_FALSE(test::fileExists(downloadPath));
        EXPECT_EQ(readFile(outside), "not the launcher's");
    }
}

TEST_F(GameInstall, NeedsUpdateFollowsTheDecisionTable) {
    UpdateManifest m = manifest("/game", "");
    m.game_version = "1.0";
    EXPECT_FALSE(gameNeedsUpdate(exePath, "1.0", m)); // same version, no digest
    m.game_version = "1.0-RC";
    EXPECT_FALSE(gameNeedsUpdate(exePath, "1.0-rc", m));
    m.game_version = "1.9";
    EXPECT_TRUE(gameNeedsUpdate(exePath, "1.10", m));  // never ordered
    EXPECT_TRUE(gameNeedsUpdate(exePath, "0.0.0", m)); // no record

    writeFile(exePath, newGame, true);
    m.game_version = "2.0";
    std::string upper = toUpper(digest);
    m.game_sha256 = upper;
    EXPECT_FALSE(gameNeedsUpdate(exePath, "2.0", m)); // digest matches
    m.game_sha256 = std::string(64, 'a');
    EXPECT_TRUE(gameNeedsUpdate(exePath, "2.0", m)); // modified on disk

    std::filesystem::remove(exePath);
    EXPECT_TRUE(gameNeedsUpdate(exePath, "2.0", m)); // deleted

    // An executable that cannot be read counts as current.
    std::filesystem::create_directory(exePath);
    EXPECT_FALSE(gameNeedsUpdate(exePath, "2.0", m));
}

} // namespace
} // namespace orvanta
