// Faults as the player meets them: the Launcher's own check against loopback servers that fail
// in different ways. Each check ends in Error with its message, the game in place stays as it
// was, and no temporary file is left; the next check against a good server installs the update.
#include "app/launcher.hpp"
#include "fault/fault_support.hpp"
#include "platform/http.hpp"
#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
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

const char* const unreachable = "Could not reach update server.";
const char* const invalid = "Update manifest is invalid.";
const std::string oldGame = "#!/bin/sh\necho 'Orvanta 1.0'\n";

std::string requestPath(const std::string& head) {
    const std::size_t start = head.find(' ');
    const std::size_t end = head.find(' ', start + 1);
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : head.substr(start + 1, end - start - 1);
}

class LauncherFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "needs an X display (scripts/test runs the tests under Xvfb)";
        }
        savedLimits_ = httpLimits();
        httpLimits().connectTimeoutSeconds = 5;
        httpLimits().textTimeoutSeconds = 3;
        httpLimits().averageWindowSeconds = 1;
        folder_ = home_.path() + "/Orvanta";
        std::filesystem::create_directory(folder_);
        exePath_ = folder_ + "/Orvanta.exe";
        versionPath_ = folder_ + "/version.txt";
        writeFile(exePath_, oldGame, true);
        writeFile(versionPath_, "1.0");
        newGame_ = std::string("#!/bin/sh\necho 'Orvanta 2.0'\n") + std::string(200000, 'g');
        writeFile(home_.file("served.bin"), newGame_);
        newDigest_ = sha256File(home_.file("served.bin"));
    }
    void TearDown() override { httpLimits() = savedLimits_; }

    std::string manifestJson(const std::string& gameUrl) const {
        return R"({"game_version":"2.0","game_url":")" + gameUrl + R"(","game_sha256":")" +
               newDigest_ + R"(","changelog":"Pumpkins."})";
    }

    // Serves the manifest at /manifest.json and hands requests for the game to gameHandler.
    RawServer channel(RawServer::Handler gameHandler) const {
        return RawServer(
            [this, gameHandler](RawServer& server, fault::Socket socket, const std::string& head) {
                if (requestPath(head) == "/manifest.json") {
                    const std::string body = manifestJson(server.url("/Orvanta.exe"));
                    sendAll(socket, responseHead(static_cast<long long>(body.size())) + body);
                } else {
                    gameHandler(server, socket, head);
                }
            });
    }

    RawServer::Handler wholeGame() const {
        const std::string body = newGame_;
        return [body](RawServer&, fault::Socket socket, const std::string&) {
            sendAll(socket, responseHead(static_cast<long long>(body.size())) + body);
        };
    }

    void expectError(const Launcher& launcher, const std::string& message) const {
        EXPECT_EQ(launcher.phase, LauncherPhase::Error);
        EXPECT_EQ(launcher.lastError, message);
        EXPECT_EQ(launcher.statusText.getString().toAnsiString(), message);
        EXPECT_EQ(readFile(exePath_), oldGame);
        EXPECT_EQ(readFile(versionPath_), "1.0");
        EXPECT_FALSE(fileExists(exePath_ + ".download")) << "the temporary file was left behind";
    }

    void expectNewGameReady(const Launcher& launcher) const {
        EXPECT_EQ(launcher.phase, LauncherPhase::Ready);
        EXPECT_EQ(launcher.statusText.getString().toAnsiString(), "Ready to play.");
        EXPECT_TRUE(readFile(exePath_) == newGame_);
        EXPECT_EQ(readFile(versionPath_), "2.0");
        EXPECT_EQ(launcher.installedVersion, "2.0");
        EXPECT_FALSE(fileExists(exePath_ + ".download"));
    }

    test::TempDir home_;
    test::ScopedEnv dataHome_{"XDG_DATA_HOME", home_.path().c_str()};
    HttpLimits savedLimits_;
    std::string folder_, exePath_, versionPath_, newGame_, newDigest_;
};

// One launcher, retried through every way the manifest's server can fail, as a player pressing
// Retry would; each check shows its own message and installs nothing.
TEST_F(LauncherFaults, ManifestFaultsEndInTheirMessages) {
    const std::string htmlPage =
        "<!DOCTYPE html>\n<html><body><h1>502 Bad Gateway</h1></body></html>";
    const std::string good = manifestJson("http://127.0.0.1:9/Orvanta.exe");
    const std::string bigChunk(1024 * 1024, ' ');
    struct Scenario {
        const char* name;
        RawServer::Handler handler;
        const char* message;
    };
    const Scenario scenarios[] = {
        {"HTML error page with status 200",
         [&](RawServer&, fault::Socket s, const std::string&) {
             sendAll(s, responseHead(static_cast<long long>(htmlPage.size())) + htmlPage);
         },
         invalid},
        {"HTML error page with status 502",
         [&](RawServer&, fault::Socket s, const std::string&) {
             sendAll(s, responseHead(static_cast<long long>(htmlPage.size()), "502 Bad Gateway") +
                            htmlPage);
         },
         unreachable},
        {"empty body",
         [&](RawServer&, fault::Socket s, const std::string&) { sendAll(s, responseHead(0)); },
         invalid},
        {"manifest cut short of its Content-Length",
         [&](RawServer&, fault::Socket s, const std::string&) {
             sendAll(s, responseHead(static_cast<long long>(good.size())) +
                            good.substr(0, good.size() / 2));
         },
         invalid},
        {"50 MiB of JSON",
         [&](RawServer&, fault::Socket s, const std::string&) {
             // A valid manifest padded with white space to 50 MiB.
             const long long total = 50ll * 1024 * 1024;
             if (!sendAll(s, responseHead(total) + good)) {
                 return;
             }
             long long sent = static_cast<long long>(good.size());
             while (sent < total) {
                 const auto n = std::min<long long>(total - sent, 1024 * 1024);
                 if (!sendAll(s, bigChunk.substr(0, static_cast<std::size_t>(n)))) {
                     return;
                 }
                 sent += n;
             }
         },
         unreachable},
        {"server stalls before answering",
         [&](RawServer& server, fault::Socket, const std::string&) { server.hold(15s); },
         unreachable},
        {"connection reset before answering",
         [&](RawServer&, fault::Socket s, const std::string&) { fault::resetConnection(s); },
         unreachable},
    };
    Launcher launcher("http://127.0.0.1:9/unused");
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        RawServer server(scenario.handler);
        launcher.manifestAddress = server.url("/manifest.json");
        launcher.resetForRetry();
        launcher.checkForUpdates();
        expectError(launcher, scenario.message);
        if (scenario.message == invalid) {
            EXPECT_FALSE(launcher.manifest.has_value());
        }
    }

    // Retry against a server that works: the update goes through.
    RawServer server = channel(wholeGame());
    launcher.manifestAddress = server.url("/manifest.json");
    launcher.resetForRetry();
    launcher.checkForUpdates();
    expectNewGameReady(launcher);
}

TEST_F(LauncherFaults, ManifestRedirectedFromHttpsToHttpIsUnreachable) {
    const auto certificate = fault::makeTestCertificate(home_.path());
    httpLimits().caBundle = certificate.certPath;
    RawServer plain = channel(wholeGame());
    test::LoopbackServer secure(certificate.certPath, certificate.keyPath);
    secure.server().Get("/manifest.json", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain.url("/manifest.json"), 302);
    });
    secure.start();

    Launcher launcher(secure.url("/manifest.json"));
    launcher.checkForUpdates();
    expectError(launcher, unreachable);
    EXPECT_EQ(plain.requestCount(), 0);
}

// The game's server fails in mid-body: "Download failed." and the old game is still there;
// pressing Retry when it works again installs the update.
TEST_F(LauncherFaults, BrokenGameDownloadEndsInDownloadFailed) {
    const std::string half = newGame_.substr(0, newGame_.size() / 2);
    const long long length = static_cast<long long>(newGame_.size());
    const RawServer::Handler breaks[] = {
        [&](RawServer&, fault::Socket s, const std::string&) {
            sendAll(s, responseHead(length) + half);
        },
        [&](RawServer&, fault::Socket s, const std::string&) {
            sendAll(s, responseHead(length) + half);
            std::this_thread::sleep_for(50ms);
            fault::resetConnection(s);
        },
        [&](RawServer&, fault::Socket s, const std::string&) {
            sendAll(s, responseHead(11, "404 Not Found") + "not found\r\n");
        },
    };
    Launcher launcher("http://127.0.0.1:9/unused");
    for (const auto& handler : breaks) {
        RawServer server = channel(handler);
        launcher.manifestAddress = server.url("/manifest.json");
        launcher.resetForRetry();
        launcher.checkForUpdates();
        expectError(launcher, downloadFailedMessage);
        EXPECT_EQ(launcher.installedVersion, "1.0");
        EXPECT_TRUE(launcher.manifest.has_value());
    }

    RawServer server = channel(wholeGame());
    launcher.manifestAddress = server.url("/manifest.json");
    launcher.resetForRetry();
    launcher.checkForUpdates();
    expectNewGameReady(launcher);
}

// A launcher killed in the middle of a download leaves a half-written temporary file beside the
// old game. The next start removes it, installs the whole build and never takes the half for it.
TEST_F(LauncherFaults, NextStartAfterAKilledDownloadInstallsTheWholeBuild) {
    const std::string half = newGame_.substr(0, newGame_.size() / 2);
    RawServer stalling = channel([&](RawServer& server, fault::Socket s, const std::string&) {
        sendAll(s, responseHead(static_cast<long long>(newGame_.size())) + half);
        server.hold(15s);
    });
    UpdateManifest manifest;
    manifest.game_version = "2.0";
    manifest.game_url = stalling.url("/Orvanta.exe");
    manifest.game_sha256 = newDigest_;

    // The download runs in a child of its own (no window in it: a forked X connection is not
    // usable), exactly as the launcher runs it, and is killed once part of the build has arrived.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        installGameBuild(manifest, exePath_, versionPath_, {}, {});
        _exit(0);
    }
    const std::string leftover = exePath_ + ".download";
    bool started = false;
    for (int i = 0; i < 1000 && !started; ++i) {
        std::error_code error;
        started = std::filesystem::file_size(leftover, error) > 0 && !error;
        if (!started) {
            std::this_thread::sleep_for(10ms);
        }
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(started) << "the download never wrote to its temporary file";
    ASSERT_TRUE(fileExists(leftover));
    EXPECT_EQ(readFile(exePath_), oldGame);

    RawServer server = channel(wholeGame());
    Launcher launcher(server.url("/manifest.json"));
    EXPECT_EQ(launcher.installedVersion, "1.0");
    launcher.checkForUpdates();
    expectNewGameReady(launcher);
}

} // namespace
} // namespace orvanta
