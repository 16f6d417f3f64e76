#pragma once

// The launcher as a player meets it: the program built for the test server, a real nginx with a
// test CA on loopback, builds published with orvanta-publish, a real window under Xvfb. Shared by
// the end-to-end test programs that drive the launcher's window.
//
// The Windows build's ctest runs e2e_launcher_tests with ORVANTA_E2E_WINDOWS_* set: the scenarios
// then drive orvanta-launcher-e2e.exe under Wine, with the Windows sample game as the build.

#include "e2e_support.hpp"
#include "nginx_server.hpp"
#include "support/temp_dir.hpp"

#include <cstddef>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orvanta::e2e {

// Where the screen shows what, in window pixels: the status dot; the button's centre, where a
// click lands; a point inside the button clear of its label and shine; the progress bar's row.
inline constexpr int dotX = 51, dotY = 157;
inline constexpr int buttonX = 290, buttonY = 382;
inline constexpr int buttonFillX = 200, buttonFillY = 396;
inline constexpr int progressY = 206;

inline constexpr Rgb readyDot{110, 200, 70};
inline constexpr Rgb errorDot{235, 95, 75};
inline constexpr Rgb readyButton{92, 150, 48};
inline constexpr Rgb readyButtonHovered{118, 185, 62};
inline constexpr Rgb errorButton{170, 92, 48};
inline constexpr Rgb progressColour{110, 180, 60};
inline constexpr Rgb errorText{170, 55, 40};

// The launchers under test and where they live.
struct Target {
    bool windows = false;
    std::string launcher;
    std::string signedLauncher;
    // The unsigned launcher as its next version, the build a launcher updates itself to.
    std::string nextLauncher;
    std::string ca; // the CA (ca.pem, ca.key) the launchers were built to trust
    std::string baseUrl;
    int port = 0;
    // Windows only: the Wine prefix, the sample game's build and the installer.
    std::string prefix, game, installer;
};
const Target& target();

// Every build carries this much data after its program, the same in every build, so most of a
// build's chunks are those of the build before.
inline constexpr std::size_t sharedPayloadBytes = 2 << 20;

// Deterministic text of a few letters, which compresses to about half and gives the chunker
// boundaries to find.
std::string payload(std::size_t size);
// A game build: the program, then the shared payload (which a program, Linux script or Windows
// executable, never reads). On Linux a script that records that it ran, and which build it was;
// on Windows the sample game, its build named in bytes appended to the program.
std::string gameBuild(const std::string& build, std::size_t payloadBytes = sharedPayloadBytes);

EnvChanges wineEnvironment(const std::string& display);
// A Wine command (wine, wineboot, wineserver), found on the PATH.
std::vector<std::string> wineCommand(std::vector<std::string> argv);
// The Windows user folder of the prefix (drive_c/users/<name>), made on first use.
std::string wineUserFolder();

std::set<std::string> filesIn(const std::string& directory);

class LauncherEndToEnd : public testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    void publish(const std::string& version, const std::string& signingKey = {},
                 std::size_t payloadBytes = sharedPayloadBytes,
                 const std::vector<std::string>& more = {});

    std::string installDir() const;
    std::string installedGame() const { return installDir() + "/Orvanta.exe"; }
    // The channel's file of a game version with this extension ("exe", "chunks", "pack"):
    // Orvanta-<version>.<extension>, or Orvanta-<version>-<12 hex digits>.<extension> where names
    // carry the contents' digest (the latest written when a republish left several).
    std::string channelFile(const std::string& version, const std::string& extension) const;
    // The start of an access log's request line for that file.
    std::string channelRequest(const std::string& version, const std::string& extension) const {
        return "GET /orvanta-downloads/" + channelFile(version, extension) + " ";
    }
    std::uint64_t packSize(const std::string& version) const;
    std::string marker() const { return dir_.file("game-started.txt"); }

    // Whether the game has started: the build's marker on Linux, the sample game's window on
    // Windows.
    bool gameStarted(const std::string& build = {});
    void startLauncher(const std::string& program = target().launcher);
    // Waits until the status dot shows dot, keeping the screen it was seen on.
    bool waitForDot(Rgb dot);
    void expectReadyScreen();
    void expectErrorScreen();
    void closeAndExpectExitZero();

    test::TempDir dir_;
    std::optional<VirtualDisplay> display_;
    std::optional<DisplayClient> client_;
    std::optional<Nginx> nginx_;
    std::optional<Process> launcher_;
    unsigned long window_ = 0;
    std::optional<Screenshot> lastShot_;

    static inline test::TempDir* certificateDir_ = nullptr;
    static inline TestCertificates trusted_;
    static inline TestCertificates untrusted_;
};

} // namespace orvanta::e2e
