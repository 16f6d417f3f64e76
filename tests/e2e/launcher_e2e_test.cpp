// The launcher's scenarios against a channel served by nginx directly (launcher_e2e_fixture.hpp).
// The Windows build's ctest runs this same program with ORVANTA_E2E_WINDOWS_* set: the scenarios
// then drive orvanta-launcher-e2e.exe under Wine, with the Windows sample game as the build.

#include "launcher_e2e_fixture.hpp"
#include "support/same_bytes.hpp"
#include "support/temp_dir.hpp"
#include "update/signed_manifest.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace orvanta::e2e {
namespace {

using test::fileExists;
using test::readFile;
using test::writeFile;

TEST_F(LauncherEndToEnd, FirstStartInstallsAndASecondStartFetchesOnlyTheManifest) {
    publish("1.0");
    ASSERT_EQ(nginx_->start(), "");

    startLauncher();
    expectReadyScreen();
    EXPECT_EQ(filesIn(installDir()), (std::set<std::string>{"Orvanta.exe", "version.txt"}));
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0")));
    EXPECT_EQ(readFile(installDir() + "/version.txt"), "1.0");
    // Installed from its chunks: the index once, the pack in one or more ranges.
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.0", "chunks")), 1);
    const int packRequests = nginx_->requestsFor(channelRequest("1.0", "pack"));
    EXPECT_GE(packRequests, 1);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.0", "exe")), 0);
    closeAndExpectExitZero();

    startLauncher();
    expectReadyScreen();
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/manifest.json"), 2);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.0", "chunks")), 1);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.0", "pack")), packRequests);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.0", "exe")), 0);
    closeAndExpectExitZero();
}

// The new build shares most of its chunks with the installed one: only the others are fetched.
TEST_F(LauncherEndToEnd, ANewlyPublishedBuildIsInstalledAtTheNextStart) {
    publish("1.0");
    ASSERT_EQ(nginx_->start(), "");
    startLauncher();
    expectReadyScreen();
    closeAndExpectExitZero();

    publish("1.1");
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.1")));
    EXPECT_EQ(readFile(installDir() + "/version.txt"), "1.1");
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.1", "chunks")), 1);
    EXPECT_GE(nginx_->requestsFor(channelRequest("1.1", "pack")), 1);
    EXPECT_LT(nginx_->bytesSentFor(channelRequest("1.1", "pack")), packSize("1.1") / 2);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.1", "exe")), 0);
    EXPECT_EQ(filesIn(installDir()), (std::set<std::string>{"Orvanta.exe", "version.txt"}));
    closeAndExpectExitZero();

    // A server that answers a request for several ranges with the whole file: asked again for
    // each range alone.
    nginx_->stop();
    nginx_->oneRangePerRequest();
    ASSERT_EQ(nginx_->start(), "");
    publish("1.2");
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.2")));
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.2", "pack")), 3);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.2", "exe")), 0);
    closeAndExpectExitZero();
}

TEST_F(LauncherEndToEnd, PlayRepairsAModifiedGameThenStartsIt) {
    publish("2.0");
    ASSERT_EQ(nginx_->start(), "");
    startLauncher();
    expectReadyScreen();

    // Damaged on disk while the launcher stands Ready.
    {
        std::ofstream damage(installedGame(), std::ios::app);
        damage << "# tampered\n";
    }
    ASSERT_TRUE(click(display_->name(), window_, buttonX, buttonY));
    ASSERT_TRUE(waitUntil([&] { return readFile(installedGame()) == gameBuild("2.0"); }, 60s))
        << "the modified game was not repaired";
    expectReadyScreen();
    // Repaired from its chunks: the install and the repair each fetched the index, and the
    // repair only the damaged end of the pack.
    EXPECT_EQ(nginx_->requestsFor(channelRequest("2.0", "chunks")), 2);
    EXPECT_LT(nginx_->bytesSentFor(channelRequest("2.0", "pack")), packSize("2.0") * 3 / 2);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("2.0", "exe")), 0);
    EXPECT_FALSE(gameStarted()) << "the repairing click must not also start the game";

    ASSERT_TRUE(click(display_->name(), window_, buttonX, buttonY));
    ASSERT_TRUE(waitUntil([&] { return gameStarted("2.0"); }, 30s)) << "the game did not run";
    // The launcher stays open, Ready. (The Windows sample game's window is closed first: it lies
    // over the launcher's.)
    EXPECT_TRUE(launcher_->running());
    if (target().windows) {
        ASSERT_TRUE(client_->requestClose(client_->findWindow("Orvanta sample build")));
        ASSERT_TRUE(waitUntil([&] { return !gameStarted(); }, 30s));
    }
    expectReadyScreen();
    closeAndExpectExitZero();
}

TEST_F(LauncherEndToEnd, WithoutTheServerItOffersRetryWhichRecoversOnceTheServerIsBack) {
    publish("3.0");
    startLauncher();
    expectErrorScreen();
    EXPECT_FALSE(fileExists(installedGame()));

    ASSERT_EQ(nginx_->start(), "");
    ASSERT_TRUE(click(display_->name(), window_, buttonX, buttonY));
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("3.0")));
    closeAndExpectExitZero();
}

// A launcher killed while it fetches a build's pack leaves its download behind; the next start
// keeps the chunks in it and fetches only the rest.
TEST_F(LauncherEndToEnd, AnInstallCutShortByAKillGoesOnFromWhereItStopped) {
    constexpr std::size_t payloadBytes = 12 << 20;
    publish("7.0", {}, payloadBytes);
    const std::uint64_t pack = packSize("7.0");
    const std::string packRequest = channelRequest("7.0", "pack");
    // About four seconds for the whole pack.
    nginx_->limitPackRate(std::to_string(pack / 4));
    ASSERT_EQ(nginx_->start(), "");
    startLauncher();
    const std::string download = installedGame() + ".download";
    const std::uint64_t buildSize = gameBuild("7.0", payloadBytes).size();
    ASSERT_TRUE(waitUntil(
        [&] {
            std::error_code absent;
            const std::uintmax_t size = std::filesystem::file_size(download, absent);
            return (!absent && size >= buildSize / 2) || !launcher_->running();
        },
        60s, 20ms));
    launcher_->kill();
    ASSERT_TRUE(fileExists(download));
    ASSERT_LT(std::filesystem::file_size(download), buildSize);
    // nginx logs the cut request once it finds the connection gone.
    ASSERT_TRUE(waitUntil([&] { return nginx_->requestsFor(packRequest) == 1; }, 10s));
    const std::uint64_t sentBeforeKill = nginx_->bytesSentFor(packRequest);

    nginx_->limitPackRate({});
    ASSERT_EQ(nginx_->start(), "");
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("7.0", payloadBytes)));
    EXPECT_EQ(filesIn(installDir()), (std::set<std::string>{"Orvanta.exe", "version.txt"}));
    EXPECT_LE(nginx_->bytesSentFor(packRequest) - sentBeforeKill, pack * 6 / 10);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("7.0", "exe")), 0);
    closeAndExpectExitZero();
}

TEST_F(LauncherEndToEnd, AServerCertificateFromAnotherAuthorityIsRefused) {
    publish("4.0");
    nginx_.emplace(dir_.file("nginx"), dir_.file("site"), untrusted_.certPath, untrusted_.keyPath,
                   target().port);
    ASSERT_EQ(nginx_->start(), "");
    startLauncher();
    expectErrorScreen();
    // The handshake failed, so no request ever reached the server. On Windows, where the launcher
    // judges a pinned bundle's chain itself once WinHTTP has sent the request, the manifest's
    // request line may arrive; nothing of the answer is read.
    if (target().windows) {
        EXPECT_EQ(nginx_->requestsFor("GET "),
                  nginx_->requestsFor("GET /orvanta-downloads/manifest.json "));
        EXPECT_LE(nginx_->requestsFor("GET "), 1);
    } else {
        EXPECT_EQ(nginx_->requestsFor("GET "), 0);
    }
    EXPECT_FALSE(fileExists(installedGame()));
    closeAndExpectExitZero();
}

// A launcher built with the studio's key refuses a manifest changed after signing (fetched twice),
// downloading nothing, and installs the signed one; a launcher without a key installs from the same
// channel.
TEST_F(LauncherEndToEnd, ASignedChannelServesLaunchersWithAndWithoutTheKey) {
    publish("5.0", std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/studio-a.pem");
    ASSERT_EQ(nginx_->start(), "");
    const std::string manifestPath = dir_.file("site/orvanta-downloads/manifest.json");
    const std::string signedManifest = readFile(manifestPath);
    std::string tampered = signedManifest;
    tampered.replace(tampered.find("\"5.0\""), 5, "\"6.0\"");
    writeFile(manifestPath, tampered);

    startLauncher(target().signedLauncher);
    expectErrorScreen();
    // The pair fetched once more: a cache may hold the two at different ages.
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/manifest.json.sig"), 2);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-5.0"), 0);
    closeAndExpectExitZero();

    writeFile(manifestPath, signedManifest);
    startLauncher(target().signedLauncher);
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("5.0")));
    EXPECT_EQ(readFile(installDir() + "/published_at.txt"), manifestPublishedAt(signedManifest));
    closeAndExpectExitZero();

    std::filesystem::remove(installedGame());
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("5.0")));
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/manifest.json.sig"), 3);
    closeAndExpectExitZero();
}

// The Windows installer in silent mode places the launcher, its fonts, a Start-menu shortcut and an
// uninstall entry for the player alone; its uninstaller removes them and leaves the game alone.
// A launcher the player installed (a folder of their own) meets a channel that announces its next
// build: it puts that build in its own place and starts it, and ends; the new one installs the
// game. A launcher with keys takes no build from a manifest that is not signed; a launcher build
// that cannot come up is taken back out and never fetched again.
TEST_F(LauncherEndToEnd, ALauncherReplacesItselfWithTheBuildItsChannelAnnounces) {
    std::filesystem::create_directories(dir_.file("app"));
    const std::string installed =
        dir_.file("app/" + std::filesystem::path(target().launcher).filename().string());
    std::filesystem::copy_file(target().launcher, installed);
    publish("1.0", {}, sharedPayloadBytes,
            {"--launcher", target().nextLauncher, "--launcher-version", ORVANTA_E2E_NEXT_VERSION});
    ASSERT_EQ(nginx_->start(), "");
    startLauncher(installed);
    const std::optional<int> code = launcher_->waitForExit(90s);
    ASSERT_TRUE(code.has_value()) << "the first launcher did not hand over";
    EXPECT_EQ(*code, 0) << readFile(dir_.file("launcher.log"));
    ASSERT_TRUE(waitUntil([&] { return (window_ = client_->findWindow("Orvanta")) != 0; }, 60s))
        << "the new launcher's window never appeared";
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installed), readFile(target().nextLauncher)));
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0")));
    std::set<std::string> beside = filesIn(dir_.file("app"));
    beside.erase("fonts");
    EXPECT_EQ(beside, std::set<std::string>{std::filesystem::path(installed).filename().string()});
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/orvanta-launcher-"), 1);
    ASSERT_TRUE(client_->requestClose(window_));
    ASSERT_TRUE(waitUntil([&] { return client_->findWindow("Orvanta") == 0; }, 30s));

    // A launcher with keys takes nothing, its own build included, from a manifest not signed.
    const std::string keyed =
        dir_.file("app/" + std::filesystem::path(target().signedLauncher).filename().string());
    std::filesystem::copy_file(target().signedLauncher, keyed);
    startLauncher(keyed);
    expectErrorScreen();
    EXPECT_TRUE(test::sameBytes(readFile(keyed), readFile(target().signedLauncher)));
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/orvanta-launcher-"), 1);
    closeAndExpectExitZero();
    if (target().windows) {
        return; // a program that ends at once is a Linux script here; the unit tests hold the rest
    }
    std::filesystem::remove(keyed);

    // A "next build" that ends at once: the launcher in place comes back, installs the game and
    // refuses that build from then on.
    std::filesystem::remove_all(installDir());
    std::filesystem::copy_file(target().launcher, installed,
                               std::filesystem::copy_options::overwrite_existing);
    writeFile(dir_.file("broken-launcher"), "#!/bin/sh\nexit 1\n", true);
    publish("1.0", {}, sharedPayloadBytes,
            {"--launcher", dir_.file("broken-launcher"), "--launcher-version", "9.9"});
    for (int start = 0; start < 2; ++start) {
        startLauncher(installed);
        expectReadyScreen();
        EXPECT_TRUE(test::sameBytes(readFile(installed), readFile(target().launcher)));
        closeAndExpectExitZero();
    }
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/orvanta-launcher-9.9"), 1);
    EXPECT_EQ(filesIn(dir_.file("app")),
              std::set<std::string>{std::filesystem::path(installed).filename().string()});
}

TEST_F(LauncherEndToEnd, TheWindowsInstallerAndUninstallerLeaveThePlayersGameAlone) {
    if (!target().windows) {
        GTEST_SKIP() << "the installer is a Windows program (the Windows build runs this)";
    }
    const EnvChanges env = wineEnvironment(display_->name());
    const std::string user = wineUserFolder();
    const std::string folder = user + "/AppData/Local/Programs/Orvanta Launcher";
    const std::string shortcut =
        user + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Orvanta Launcher.lnk";
    const std::vector<std::string> uninstallEntry = wineCommand(
        {"wine", "reg", "query",
         "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvantaLauncher"});
    std::filesystem::create_directories(installDir());
    writeFile(installedGame(), "the player's game");

    ASSERT_EQ(runProgram(wineCommand({"wine", target().installer, "/S"}), env).exitCode, 0);
    runProgram(wineCommand({"wineserver", "-w"}), env);
    EXPECT_TRUE(fileExists(folder + "/orvanta-launcher.exe"));
    EXPECT_TRUE(fileExists(folder + "/fonts/Nunito-Regular.ttf"));
    EXPECT_TRUE(fileExists(folder + "/fonts/OFL.txt"));
    EXPECT_TRUE(fileExists(shortcut));
    EXPECT_EQ(runProgram(uninstallEntry, env).exitCode, 0);

    // The entry shows the version of the launcher that runs, which may have replaced itself.
    std::vector<std::string> setVersion = uninstallEntry;
    setVersion[setVersion.size() - 2] = "add";
    setVersion.insert(setVersion.end(), {"/v", "DisplayVersion", "/d", "0.9", "/f"});
    ASSERT_EQ(runProgram(setVersion, env).exitCode, 0);
    launcher_.emplace(wineCommand({"wine", folder + "/orvanta-launcher.exe"}), dir_.file("work"),
                      env, dir_.file("launcher.log"));
    std::vector<std::string> readVersion = uninstallEntry;
    readVersion.insert(readVersion.end(), {"/v", "DisplayVersion"});
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string shown = runProgram(readVersion, env).output;
            return shown.find("0.9") == std::string::npos &&
                   shown.find(ORVANTA_E2E_LAUNCHER_VERSION) != std::string::npos;
        },
        60s));
    launcher_.reset();
    runProgram(wineCommand({"wineserver", "-k"}), env);

    // The uninstaller hands over to a copy of itself and returns at once.
    ASSERT_EQ(runProgram(wineCommand({"wine", folder + "/uninstall.exe", "/S"}), env).exitCode, 0);
    runProgram(wineCommand({"wineserver", "-w"}), env);
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(folder); }, 30s))
        << "the launcher's folder is still there";
    EXPECT_FALSE(fileExists(shortcut));
    EXPECT_NE(runProgram(uninstallEntry, env).exitCode, 0);
    EXPECT_EQ(readFile(installedGame()), "the player's game");
}

} // namespace
} // namespace orvanta::e2e
