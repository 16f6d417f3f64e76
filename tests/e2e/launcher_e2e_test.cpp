// The launcher as a player meets it: the program built for the test server, a real nginx with a
// test CA on loopback, builds published with orvanta-publish, a real window under Xvfb.
//
// The Windows build's ctest runs this same program with ORVANTA_E2E_WINDOWS_* set: the scenarios
// then drive orvanta-launcher-e2e.exe under Wine, with the Windows sample game as the build.

#include "e2e_support.hpp"
#include "support/same_bytes.hpp"
#include "support/temp_dir.hpp"
#include "update/signed_manifest.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <set>

namespace orvanta::e2e {
namespace {

using test::fileExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Where the screen shows what, in window pixels.
constexpr int dotX = 51, dotY = 157;                // status dot
constexpr int buttonX = 290, buttonY = 382;         // button centre, where a click lands
constexpr int buttonFillX = 200, buttonFillY = 396; // inside the button, clear of label and shine
constexpr int progressY = 206;

constexpr Rgb readyDot{110, 200, 70};
constexpr Rgb errorDot{235, 95, 75};
constexpr Rgb readyButton{92, 150, 48};
constexpr Rgb readyButtonHovered{118, 185, 62};
constexpr Rgb errorButton{170, 92, 48};
constexpr Rgb progressColour{110, 180, 60};
constexpr Rgb errorText{170, 55, 40};

// The launchers under test and where they live.
struct Target {
    bool windows = false;
    std::string launcher = ORVANTA_E2E_LAUNCHER;
    std::string signedLauncher = ORVANTA_E2E_SIGNED_LAUNCHER;
    // The unsigned launcher as its next version, the build a launcher updates itself to.
    std::string nextLauncher = ORVANTA_E2E_NEXT_LAUNCHER;
    std::string ca = ORVANTA_E2E_CA; // the CA (ca.pem, ca.key) the launchers were built to trust
    std::string baseUrl = "https://127.0.0.1:" + std::to_string(ORVANTA_E2E_PORT);
    int port = ORVANTA_E2E_PORT;
    // Windows only: the Wine prefix, the sample game's build and the installer.
    std::string prefix, game, installer;
};

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

const Target& target() {
    static const Target chosen = [] {
        Target t;
        if (environment("ORVANTA_E2E_WINDOWS_LAUNCHER").empty()) {
            return t;
        }
        t.windows = true;
        t.launcher = environment("ORVANTA_E2E_WINDOWS_LAUNCHER");
        t.signedLauncher = environment("ORVANTA_E2E_WINDOWS_SIGNED_LAUNCHER");
        t.nextLauncher = environment("ORVANTA_E2E_WINDOWS_NEXT_LAUNCHER");
        t.ca = environment("ORVANTA_E2E_WINDOWS_CA");
        t.port = std::atoi(environment("ORVANTA_E2E_WINDOWS_PORT").c_str());
        // Wine's WinHTTP refuses certificates for IP addresses.
        t.baseUrl = "https://localhost:" + std::to_string(t.port);
        t.prefix = environment("ORVANTA_E2E_WINDOWS_PREFIX");
        t.game = environment("ORVANTA_E2E_WINDOWS_GAME");
        t.installer = environment("ORVANTA_E2E_WINDOWS_INSTALLER");
        return t;
    }();
    return chosen;
}

// Every build carries this much data after its program, the same in every build, so most of a
// build's chunks are those of the build before.
constexpr std::size_t sharedPayloadBytes = 2 << 20;

// Deterministic text of a few letters, which compresses to about half and gives the chunker
// boundaries to find.
std::string payload(std::size_t size) {
    std::string text(size, '\n');
    std::uint32_t state = 0x4f72766e;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        if (i % 64 != 63) {
            text[i] = static_cast<char>('a' + (state >> 28));
        }
    }
    return text;
}

// A game build: the program, then the shared payload (which a program, Linux script or Windows
// executable, never reads). On Linux a script that records that it ran, and which build it was;
// on Windows the sample game, its build named in bytes appended to the program.
std::string gameBuild(const std::string& build, std::size_t payloadBytes = sharedPayloadBytes) {
    if (target().windows) {
        static const std::string game = readFile(target().game);
        return game + "\n# Orvanta test build " + build + "\n" + payload(payloadBytes) +
               "\n# end of build " + build + "\n";
    }
    // Marked at both ends, so that an update has two places to fetch.
    return "#!/bin/sh\n# Orvanta test build " + build + "\necho " + build +
           " > \"$ORVANTA_E2E_MARKER\"\nexit 0\n" + payload(payloadBytes) + "\n# end of build " +
           build + "\n";
}

EnvChanges wineEnvironment(const std::string& display) {
    EnvChanges env = noProxyEnvironment();
    env["WINEPREFIX"] = target().prefix;
    env["WINEDEBUG"] = "-all";
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d";
    env["DISPLAY"] = display;
    return env;
}

// A Wine command (wine, wineboot, wineserver), found on the PATH.
std::vector<std::string> wineCommand(std::vector<std::string> argv) {
    argv.insert(argv.begin(), "/usr/bin/env");
    return argv;
}

// The Windows user folder of the prefix (drive_c/users/<name>), made on first use.
std::string wineUserFolder() {
    std::error_code ignored;
    for (const auto& entry :
         std::filesystem::directory_iterator(target().prefix + "/drive_c/users", ignored)) {
        if (entry.path().filename() != "Public") {
            return entry.path().string();
        }
    }
    return "";
}

std::set<std::string> filesIn(const std::string& directory) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ignored)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class LauncherEndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        certificateDir_ = new TempDir();
        std::filesystem::create_directories(certificateDir_->file("trusted"));
        std::filesystem::create_directories(certificateDir_->file("untrusted"));
        // The launchers carry this CA's certificate compiled in; the bundle file they were
        // built from is gone, so trusting the server proves they need no file at run time.
        trusted_ =
            makeCertificates(certificateDir_->file("trusted"), "Orvanta test CA", target().ca);
        untrusted_ = makeCertificates(certificateDir_->file("untrusted"), "Stranger CA");
        if (target().windows && !fileExists(target().prefix + "/system.reg")) {
            // Making a Wine prefix takes a while; it is made once and kept with the build.
            EnvChanges env = wineEnvironment("");
            env["DISPLAY"] = std::nullopt;
            runProgram(wineCommand({"wineboot", "--init"}), env);
            runProgram(wineCommand({"wineserver", "-w"}), env);
        }
    }
    static void TearDownTestSuite() {
        delete certificateDir_;
        certificateDir_ = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(trusted_.error, "");
        ASSERT_EQ(untrusted_.error, "");
        for (const char* sub : {"site", "data", "home", "work", "nginx", "x"}) {
            std::filesystem::create_directories(dir_.file(sub));
        }
        // Fonts found the way a player's copy finds them: assets/fonts beside the working folder.
        std::filesystem::create_directories(dir_.file("work/assets"));
        std::filesystem::create_directory_symlink(ORVANTA_SOURCE_DIR "/assets/fonts",
                                                  dir_.file("work/assets/fonts"));
        display_.emplace(dir_.file("x"));
        ASSERT_TRUE(display_->ok()) << readFile(dir_.file("x/xvfb.log"));
        client_.emplace(display_->name());
        ASSERT_TRUE(client_->ok());
        nginx_.emplace(dir_.file("nginx"), dir_.file("site"), trusted_.certPath, trusted_.keyPath,
                       target().port);
        if (target().windows) {
            ASSERT_FALSE(wineUserFolder().empty()) << "no Wine prefix in " << target().prefix;
            std::filesystem::remove_all(installDir());
            // The player's copy: the program with the fonts folder beside it. Plain Wine has
            // none of the Windows fonts, so these are the ones drawn.
            std::filesystem::create_directories(dir_.file("app"));
            std::filesystem::copy(ORVANTA_SOURCE_DIR "/assets/fonts", dir_.file("app/fonts"));
        }
    }

    void TearDown() override {
        if (HasFailure() && lastShot_) {
            const std::string path = std::string(ORVANTA_E2E_ARTIFACTS) + "/" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name() +
                                     ".ppm";
            lastShot_->savePpm(path);
            std::cerr << "last screen saved to " << path << "\nlauncher output:\n"
                      << readFile(dir_.file("launcher.log")) << "\nnginx access log:\n"
                      << (nginx_ ? nginx_->accessLog() : "") << "\nnginx error log:\n"
                      << readFile(dir_.file("nginx/error.log")) << "\n";
        }
        launcher_.reset();
        if (target().windows) {
            // Wine's server outlives the programs and holds on to this test's display.
            runProgram(wineCommand({"wineserver", "-k"}),
                       wineEnvironment(display_ ? display_->name() : ""));
        }
        nginx_.reset();
        client_.reset();
        display_.reset();
    }

    void publish(const std::string& version, const std::string& signingKey = {},
                 std::size_t payloadBytes = sharedPayloadBytes,
                 const std::vector<std::string>& more = {}) {
        writeFile(dir_.file("build.exe"), gameBuild(version, payloadBytes), true);
        std::vector<std::string> argv = {ORVANTA_PUBLISH_PROGRAM,
                                         "--game",
                                         dir_.file("build.exe"),
                                         "--version",
                                         version,
                                         "--base-url",
                                         target().baseUrl,
                                         "--out",
                                         dir_.file("site")};
        if (!signingKey.empty()) {
            argv.insert(argv.end(), {"--signing-key", signingKey});
        }
        argv.insert(argv.end(), more.begin(), more.end());
        const RunResult run = runProgram(argv);
        ASSERT_EQ(run.exitCode, 0) << run.output;
    }

    std::string installDir() const {
        return target().windows ? wineUserFolder() + "/AppData/Local/Orvanta"
                                : dir_.file("data/Orvanta");
    }
    std::string installedGame() const { return installDir() + "/Orvanta.exe"; }
    std::uint64_t packSize(const std::string& version) const {
        return std::filesystem::file_size(
            dir_.file("site/orvanta-downloads/Orvanta-" + version + ".pack"));
    }
    std::string marker() const { return dir_.file("game-started.txt"); }

    // Whether the game has started: the build's marker on Linux, the sample game's window on
    // Windows.
    bool gameStarted(const std::string& build = {}) {
        if (target().windows) {
            return client_->findWindow("Orvanta sample build") != 0;
        }
        return build.empty() ? fileExists(marker()) : readFile(marker()) == build + "\n";
    }

    void startLauncher(const std::string& program = target().launcher) {
        launcher_.reset();
        if (target().windows) {
            // The player's copy, unless the program already is one.
            const std::string copy =
                dir_.file("app/" + std::filesystem::path(program).filename().string());
            if (program != copy) {
                std::filesystem::copy_file(program, copy,
                                           std::filesystem::copy_options::overwrite_existing);
            }
            launcher_.emplace(wineCommand({"wine", copy}), dir_.file("work"),
                              wineEnvironment(display_->name()), dir_.file("launcher.log"));
        } else {
            EnvChanges env = noProxyEnvironment();
            env["DISPLAY"] = display_->name();
            env["XDG_DATA_HOME"] = dir_.file("data");
            env["HOME"] = dir_.file("home");
            env["ORVANTA_E2E_MARKER"] = marker();
            launcher_.emplace(std::vector<std::string>{program}, dir_.file("work"), env,
                              dir_.file("launcher.log"));
        }
        window_ = 0;
        ASSERT_TRUE(waitUntil(
            [&] {
                window_ = client_->findWindow("Orvanta");
                return window_ != 0 || !launcher_->running();
            },
            60s))
            << "no launcher window appeared";
        ASSERT_NE(window_, 0u) << "the launcher ended early: "
                               << readFile(dir_.file("launcher.log"));
    }

    // Waits until the status dot shows dot, keeping the screen it was seen on.
    bool waitForDot(Rgb dot) {
        return waitUntil(
            [&] {
                lastShot_ = client_->capture(window_);
                return lastShot_ && lastShot_->width > dotX && lastShot_->height > dotY &&
                       lastShot_->at(dotX, dotY).near(dot);
            },
            90s, 150ms);
    }

    void expectReadyScreen() {
        ASSERT_TRUE(waitForDot(readyDot))
            << "never Ready; dot shows " << (lastShot_ ? toString(lastShot_->at(dotX, dotY)) : "-");
        const Screenshot& shot = *lastShot_;
        EXPECT_EQ(shot.width, 580);
        EXPECT_EQ(shot.height, 460);
        const Rgb fill = shot.at(buttonFillX, buttonFillY);
        EXPECT_TRUE(fill.near(readyButton) || fill.near(readyButtonHovered)) << toString(fill);
        // A full progress bar: the fill runs the whole track.
        for (int x : {48, 120, 290, 460, 531}) {
            EXPECT_TRUE(shot.at(x, progressY).near(progressColour))
                << "progress at x " << x << ": " << toString(shot.at(x, progressY));
        }
    }

    void expectErrorScreen() {
        // Keep the pointer off the button so its colour is the plain one.
        ASSERT_TRUE(moveMouse(display_->name(), window_, 5, 5));
        ASSERT_TRUE(waitForDot(errorDot))
            << "never Error; dot shows " << (lastShot_ ? toString(lastShot_->at(dotX, dotY)) : "-");
        ASSERT_TRUE(waitUntil(
            [&] {
                lastShot_ = client_->capture(window_);
                return lastShot_ && lastShot_->at(buttonFillX, buttonFillY).near(errorButton);
            },
            10s));
        // The status line is written in the error colour.
        EXPECT_GT(lastShot_->count(64, 140, 540, 170, errorText, 8), 20);
    }

    void closeAndExpectExitZero() {
        ASSERT_TRUE(client_->requestClose(window_));
        const std::optional<int> code = launcher_->waitForExit(30s);
        ASSERT_TRUE(code.has_value()) << "the launcher did not end after its window was closed";
        EXPECT_EQ(*code, 0) << readFile(dir_.file("launcher.log"));
    }

    TempDir dir_;
    std::optional<VirtualDisplay> display_;
    std::optional<DisplayClient> client_;
    std::optional<Nginx> nginx_;
    std::optional<Process> launcher_;
    unsigned long window_ = 0;
    std::optional<Screenshot> lastShot_;

    static inline TempDir* certificateDir_ = nullptr;
    static inline TestCertificates trusted_;
    static inline TestCertificates untrusted_;
};

TEST_F(LauncherEndToEnd, FirstStartInstallsAndASecondStartFetchesOnlyTheManifest) {
    publish("1.0");
    ASSERT_EQ(nginx_->start(), "");

    startLauncher();
    expectReadyScreen();
    EXPECT_EQ(filesIn(installDir()), (std::set<std::string>{"Orvanta.exe", "version.txt"}));
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0")));
    EXPECT_EQ(readFile(installDir() + "/version.txt"), "1.0");
    // Installed from its chunks: the index once, the pack in one or more ranges.
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.chunks"), 1);
    const int packRequests = nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.pack");
    EXPECT_GE(packRequests, 1);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.exe"), 0);
    closeAndExpectExitZero();

    startLauncher();
    expectReadyScreen();
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/manifest.json"), 2);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.chunks"), 1);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.pack"), packRequests);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.0.exe"), 0);
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
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.1.chunks"), 1);
    EXPECT_GE(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.1.pack"), 1);
    EXPECT_LT(nginx_->bytesSentFor("GET /orvanta-downloads/Orvanta-1.1.pack"), packSize("1.1") / 2);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.1.exe"), 0);
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
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.2.pack"), 3);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-1.2.exe"), 0);
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
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-2.0.chunks"), 2);
    EXPECT_LT(nginx_->bytesSentFor("GET /orvanta-downloads/Orvanta-2.0.pack"),
              packSize("2.0") * 3 / 2);
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-2.0.exe"), 0);
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
    const std::string packRequest = "GET /orvanta-downloads/Orvanta-7.0.pack";
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
    EXPECT_EQ(nginx_->requestsFor("GET /orvanta-downloads/Orvanta-7.0.exe"), 0);
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
// downloading nothing, and installs the signed one; a launcher without a key installs from the same channel.
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
