// Faults during a game update, driven through the update pipeline's own functions against real
// loopback servers and real files. Whatever goes wrong, the player keeps the game that was
// installed (executable and version record as they were) and no temporary file is left behind.
#include "fault/fault_support.hpp"
#include "platform/http.hpp"
#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"
#include "update/install.hpp"
#include "update/manifest.hpp"
#include "update/update_check.hpp"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvanta {
namespace {

using fault::RawServer;
using fault::responseHead;
using fault::sendAll;
using test::fileExists;
using test::readFile;
using test::writeFile;
using namespace std::chrono_literals;

const std::string oldGame = "#!/bin/sh\necho 'Orvanta 1.0'\n";

// A build large enough to arrive in many chunks; every byte depends on its position.
std::string makeNewGame(std::size_t size) {
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
        return RawServer([body](RawServer&, int socket, const std::string&) {
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
        struct stat info {};
        ASSERT_EQ(stat(exePath_.c_str(), &info), 0);
        EXPECT_TRUE(info.st_mode & S_IXUSR) << "the installed game is not executable";
    }

    // Lets the unprivileged child reach the folders; the installation folder itself keeps mode.
    void openPathToFolder() const { chmod(dir_.path().c_str(), 0755); }

    test::TempDir dir_;
    HttpLimits savedLimits_;
    std::string folder_, exePath_, versionPath_, downloadPath_, newGame_, newDigest_;
};

// The server breaks off in the middle of the body in each of the ways a network does.
TEST_F(InstallFaults, BrokenTransfersFailTheDownloadAndKeepTheOldGame) {
    struct Scenario {
        const char* name;
        RawServer::Handler handler;
    };
    const std::string half = newGame_.substr(0, newGame_.size() / 2);
    const long long length = static_cast<long long>(newGame_.size());
    const Scenario scenarios[] = {
        {"body shorter than its Content-Length",
         [&](RawServer&, int socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
         }},
        {"connection reset in mid-body",
         [&](RawServer&, int socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
             std::this_thread::sleep_for(50ms);
             fault::resetConnection(socket);
         }},
        {"server stalls in mid-body",
         [&](RawServer& server, int socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
             server.hold(15s);
         }},
        {"server stalls before answering",
         [&](RawServer& server, int, const std::string&) { server.hold(15s); }},
        {"server resets before answering",
         [&](RawServer&, int socket, const std::string&) { fault::resetConnection(socket); }},
        {"error status with a body",
         [&](RawServer&, int socket, const std::string&) {
             sendAll(socket, responseHead(9, "503 Service Unavailable") + "try later");
         }},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        RawServer server(scenario.handler);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(install(manifestFor(server.url("/Orvanta.exe"))), downloadFailedMessage);
        expectOldGameKept();
        EXPECT_EQ(server.requestCount(), 1);
        // A stall ends through the shortened one-second averaging window, not the product's 60 s.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    }
}

TEST_F(InstallFaults, RedirectFromHttpsToHttpIsRefused) {
    const auto certificate = fault::makeTestCertificate(dir_.path());
    httpLimits().caBundle = certificate.certPath;
    RawServer plain([&](RawServer&, int socket, const std::string&) {
        sendAll(socket, responseHead(static_cast<long long>(newGame_.size())) + newGame_);
    });
    test::LoopbackServer secure(certificate.certPath, certificate.keyPath);
    secure.server().Get("/downgrade", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain.url("/Orvanta.exe"), 302);
    });
    secure.server().Get("/Orvanta.exe", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(newGame_, "application/octet-stream");
    });
    secure.start();

    EXPECT_EQ(install(manifestFor(secure.url("/downgrade"))), downloadFailedMessage);
    expectOldGameKept();
    EXPECT_EQ(plain.requestCount(), 0) << "the build was fetched over plain http";

    // The same server and trust, without the redirect: the update goes through.
    EXPECT_EQ(install(manifestFor(secure.url("/Orvanta.exe"))), "");
    expectNewGameInstalled();
}

TEST_F(InstallFaults, FullDiskFailsTheDownload) {
    RawServer server = goodServer();
    const UpdateManifest manifest = manifestFor(server.url("/Orvanta.exe"));
    const std::string result = fault::runInChild([&] {
        // Files may grow to 64 KiB; the build is 256 KiB. Writes beyond fail with EFBIG.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return std::string("setrlimit failed");
        }
        return install(manifest);
    });
    EXPECT_EQ(result, downloadFailedMessage);
    expectOldGameKept();
}

TEST_F(InstallFaults, KilledDownloadIsCleanedUpAndCompletedOnTheNextStart) {
    const std::string half = newGame_.substr(0, newGame_.size() / 2);
    RawServer stalling([&](RawServer& server, int socket, const std::string&) {
        sendAll(socket, responseHead(static_cast<long long>(newGame_.size())) + half);
        server.hold(15s);
    });
    const UpdateManifest stalled = manifestFor(stalling.url("/Orvanta.exe"));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        install(stalled);
        _exit(0);
    }
    // Wait until part of the build has reached the temporary file.
    bool started = false;
    for (int i = 0; i < 1000 && !started; ++i) {
        std::error_code error;
        started = std::filesystem::file_size(downloadPath_, error) > 0 && !error;
        if (!started) {
            std::this_thread::sleep_for(10ms);
        }
    }
    // While the build is arriving, the game in place is the old one, whole.
    EXPECT_EQ(readFile(exePath_), oldGame);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the download never wrote to its temporary file";
    ASSERT_TRUE(WIFSIGNALED(status));

    // The kill leaves the half-written build beside the old game, which is still in place.
    EXPECT_TRUE(fileExists(downloadPath_));
    EXPECT_EQ(readFile(exePath_), oldGame);
    EXPECT_EQ(readFile(versionPath_), "1.0");

    // The next start finds the old game out of date, drops the leftover and installs the build.
    RawServer server = goodServer();
    const UpdateManifest manifest = manifestFor(server.url("/Orvanta.exe"));
    EXPECT_TRUE(gameNeedsUpdate(exePath_, readTrimmedFile(versionPath_), manifest));
    EXPECT_EQ(install(manifest), "");
    expectNewGameInstalled();
    EXPECT_FALSE(gameNeedsUpdate(exePath_, readTrimmedFile(versionPath_), manifest));
}

// Root is not bound by file modes, so the update runs in a child that has dropped to the user
// nobody (or as ourselves when we are not root), against a folder of mode 0555 owned by root.
TEST_F(InstallFaults, ReadOnlyInstallationFolder) {
    RawServer server = goodServer();
    const UpdateManifest manifest = manifestFor(server.url("/Orvanta.exe"));
    openPathToFolder();
    ASSERT_EQ(chmod(folder_.c_str(), 0555), 0);

    const std::string result = fault::runInChild([&] { return install(manifest); }, true);
    EXPECT_EQ(result, downloadFailedMessage);
    expectOldGameKept();

    // A leftover temporary file that cannot be removed is not passed over in silence.
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    writeFile(downloadPath_, "left over");
    ASSERT_EQ(chmod(folder_.c_str(), 0555), 0);
    const std::string leftover = fault::runInChild([&] { return install(manifest); }, true);
    EXPECT_EQ(leftover.rfind("exception: ", 0), 0u) << leftover;
    EXPECT_NE(leftover.find(downloadPath_), std::string::npos) << leftover;
    EXPECT_EQ(readFile(exePath_), oldGame);
    EXPECT_EQ(readFile(versionPath_), "1.0");
    EXPECT_EQ(readFile(downloadPath_), "left over");
}

// A game that cannot be read for its digest (locked, or not ours to read) counts as current, so
// a player is never forced into a download by a permission problem.
TEST_F(InstallFaults, UnreadableExecutableCountsAsCurrent) {
    UpdateManifest manifest = manifestFor("http://127.0.0.1:9/Orvanta.exe");
    // Readable, the old game's digest does not match, so it must be replaced.
    ASSERT_TRUE(gameNeedsUpdate(exePath_, "2.0", manifest));

    openPathToFolder();
    ASSERT_EQ(chmod(exePath_.c_str(), fault::unprivilegedUid() == geteuid() ? 0000 : 0600), 0);
    const std::string result = fault::runInChild(
        [&] {
            return std::string(gameNeedsUpdate(exePath_, "2.0", manifest) ? "update" : "current");
        },
        true);
    EXPECT_EQ(result, "current");
    chmod(exePath_.c_str(), 0755);
    EXPECT_EQ(readFile(exePath_), oldGame);
}

} // namespace
} // namespace orvanta
