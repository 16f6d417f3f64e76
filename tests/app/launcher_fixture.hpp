#pragma once

#include "app/launcher.hpp"
#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvanta::test {

// What the loopback update channel answers; tests change it between checks.
struct Channel {
    std::mutex lock;
    int manifestStatus = 200;
    std::string manifestBody;
    int gameStatus = 200;
    std::string gameBody;
    bool sendLength = true;        // false: chunked, no Content-Length
    std::size_t cutAfter = 0;      // nonzero: announce the whole length, send this much, drop
    std::function<void()> midBody; // set: called between the two halves of the game's body
    int manifestRequests = 0;
    int gameRequests = 0;
    int signatureStatus = 404; // the manifest's ".sig" beside it
    std::string signatureBody;
    std::string staleSignatureBody; // set: answered once in place of signatureBody
    int signatureRequests = 0;
    std::string cacheControl; // of the last manifest and signature requests, if they agree
};

// A launcher with its own XDG_DATA_HOME, pointed at a loopback update channel.
class LauncherTest : public testing::Test {
  protected:
    void SetUp() override;

    std::unique_ptr<Launcher> makeLauncher(std::vector<std::string> publicKeys = {});
    // A manifest for the served game; sha "auto" means the digest of the served game.
    std::string manifestJson(const std::string& version, const std::string& sha = "auto",
                             const std::string& changelog = "Fresh crops.");
    void serve(const std::string& version, const std::string& game, const std::string& sha = "auto",
               const std::string& changelog = "Fresh crops.");
    std::string digestOf(const std::string& bytes);
    int gameRequests();

    std::string installDir() const { return home.path() + "/Orvanta"; }
    std::string exe() const { return installDir() + "/Orvanta.exe"; }
    std::string record() const { return installDir() + "/version.txt"; }
    std::string leftover() const { return exe() + ".download"; }
    void installOld(const std::string& version, const std::string& game);

    TempDir home;
    ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    Channel channel;
    LoopbackServer server;
};

// The button's centre in window pixels.
inline sf::Vector2i buttonCentre() {
    return {290, 382};
}

// A click by the left mouse button, as the window reports it.
sf::Event leftPress(sf::Vector2i at);

// Source-over blending, as the window does it.
sf::Color over(sf::Color src, sf::Color dst);
// The backdrop gradient with the haze over it, at a pixel row above the ground.
sf::Color sky(int y);
// The ground over the window's clear colour.
sf::Color ground();
// Whether a frame's pixel is within a few levels of the expected colour.
testing::AssertionResult looksLike(const sf::Image& frame, int x, int y, sf::Color expected,
                                   int tolerance = 3);

} // namespace orvanta::test
