// Update faults that need POSIX processes: a full disk, a killed launcher, file modes, and an
// HTTPS server of the test's own.
#include "fault/fault_fixtures.hpp"
#include "support/loopback_server.hpp"
#include "update/update_check.hpp"

#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace orvanta::fault {
namespace {

using namespace std::chrono_literals;

TEST_F(InstallFaults, RedirectFromHttpsToHttpIsRefused) {
    const auto certificate = makeTestCertificate(dir_.path());
    httpLimits().caBundle = certificate.certPath;
    RawServer plain([&](RawServer&, Socket socket, const std::string&) {
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
    const std::string result = runInChild([&] {
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
    RawServer stalling([&](RawServer& server, Socket socket, const std::string&) {
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

    const std::string result = runInChild([&] { return install(manifest); }, true);
    EXPECT_EQ(result, downloadFailedMessage);
    expectOldGameKept();

    // A leftover temporary file that cannot be removed is not passed over in silence.
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    writeFile(downloadPath_, "left over");
    ASSERT_EQ(chmod(folder_.c_str(), 0555), 0);
    const std::string leftover = runInChild([&] { return install(manifest); }, true);
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
    ASSERT_EQ(chmod(exePath_.c_str(), unprivilegedUid() == geteuid() ? 0000 : 0600), 0);
    const std::string result = runInChild(
        [&] {
            return std::string(gameNeedsUpdate(exePath_, "2.0", manifest) ? "update" : "current");
        },
        true);
    EXPECT_EQ(result, "current");
    chmod(exePath_.c_str(), 0755);
    EXPECT_EQ(readFile(exePath_), oldGame);
}

} // namespace
} // namespace orvanta::fault
