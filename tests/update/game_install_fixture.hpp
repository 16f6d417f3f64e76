#pragma once

#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"
#include "update/update_check.hpp"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace orvanta::test {

inline const std::string newGame = "#!/bin/sh\necho new build\n";

inline std::string toUpper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// An installed game (version 1.0) in a temporary folder, and a loopback server with the new build.
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
        EXPECT_FALSE(fileExists(downloadPath));
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

} // namespace orvanta::test
