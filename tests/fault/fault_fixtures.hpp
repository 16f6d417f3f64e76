#pragma once

// The fixtures of the fault tests, shared by the cases that run everywhere and those that need
// POSIX processes (posix/).
#include "fault/fault_support.hpp"
#include "platform/http.hpp"
#include "platform/sha256.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"
#include "update/install.hpp"
#include "update/manifest.hpp"

#include <filesystem>
#include <gtest/gtest.h>

namespace orvanta::fault {

using test::fileExists;
using test::readFile;
using test::writeFile;

inline const std::string validManifest =
    R"({"game_version":"2.0","game_url":"http://127.0.0.1:9/Orvanta.exe","changelog":"Pumpkins."})";

class ManifestFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        savedLimits_ = httpLimits();
        httpLimits().connectTimeoutSeconds = 5;
        httpLimits().textTimeoutSeconds = 3;
        httpLimits().averageWindowSeconds = 1;
    }
    void TearDown() override { httpLimits() = savedLimits_; }

    HttpLimits savedLimits_;
};

inline RawServer::Handler answer(const std::string& status, const std::string& body) {
    return [status, body](RawServer&, Socket socket, const std::string&) {
        sendAll(socket, responseHead(static_cast<long long>(body.size()), status) + body);
    };
}

inline const std::string oldGame = "#!/bin/sh\necho 'Orvanta 1.0'\n";

// A build large enough to arrive in many chunks; every byte depends on its position.
inline std::string makeNewGame(std::size_t size) {
    std::string game = "#!/bin/sh\necho 'Orvanta 2.0'\nexit 0\n";
    game.reserve(size);
    for (std::size_t i = game.size(); i < size; ++i) {
        game += static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return game;
}

class InstallFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        savedLimits_ = httpLimits();
        httpLimits().connectTimeoutSeconds = 5;
        httpLimits().textTimeoutSeconds = 3;
        httpLimits().averageWindowSeconds = 1;
        folder_ = dir_.path() + "/Orvanta";
        std::filesystem::create_directory(folder_);
        exePath_ = joinPath(folder_, gameExecutableName);
        versionPath_ = joinPath(folder_, versionFileName);
        downloadPath_ = exePath_ + downloadSuffix;
        writeFile(exePath_, oldGame, true);
        writeFile(versionPath_, "1.0");
        newGame_ = makeNewGame(256 * 1024);
        writeFile(dir_.file("served.bin"), newGame_);
        newDigest_ = sha256File(dir_.file("served.bin"));
        ASSERT_EQ(newDigest_.size(), 64u);
    }
    void TearDown() override { httpLimits() = savedLimits_; }

    UpdateManifest manifestFor(const std::string& url) const {
        UpdateManifest manifest;
        manifest.game_version = "2.0";
        manifest.game_url = url;
        manifest.game_sha256 = newDigest_;
        return manifest;
    }

    std::string install(const UpdateManifest& manifest) const {
        return installGameBuild(manifest, exePath_, versionPath_, {}, {});
    }

    // A server that sends the whole new build.
    RawServer goodServer() const {
        const std::string body = newGame_;
        return RawServer([body](RawServer&, Socket socket, const std::string&) {
            sendAll(socket, responseHead(static_cast<long long>(body.size())) + body);
        });
    }

    void expectOldGameKept() const {
        EXPECT_EQ(readFile(exePath_), oldGame);
        EXPECT_EQ(readFile(versionPath_), "1.0");
        EXPECT_FALSE(fileExists(downloadPath_)) << "the temporary file was left behind";
    }

    void expectNewGameInstalled() const {
        EXPECT_TRUE(readFile(exePath_) == newGame_) << "the installed executable is not the build";
        EXPECT_EQ(readFile(versionPath_), "2.0");
        EXPECT_FALSE(fileExists(downloadPath_));
        const auto permissions = std::filesystem::status(exePath_).permissions();
        EXPECT_NE(permissions & std::filesystem::perms::owner_exec, std::filesystem::perms::none)
            << "the installed game is not executable";
    }

    // Lets the unprivileged child reach the folders; the installation folder itself keeps mode.
    void openPathToFolder() const {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
    }

    test::TempDir dir_;
    HttpLimits savedLimits_;
    std::string folder_, exePath_, versionPath_, downloadPath_, newGame_, newDigest_;
};

} // namespace orvanta::fault
