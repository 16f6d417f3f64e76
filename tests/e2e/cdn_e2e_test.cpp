// The launcher behind a CDN: its HTTPS ends at an nginx front, which hands every request to a
// Varnish cache, which fills itself from an origin nginx serving the channel with the rules of
// packaging/nginx-orvanta.conf. The origin's access log tells what got past the cache.

#include "cdn_edge.hpp"
#include "launcher_e2e_fixture.hpp"
#include "support/same_bytes.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>

namespace orvanta::e2e {
namespace {

using test::readFile;

class CdnEndToEnd : public LauncherEndToEnd {
  protected:
    // Any free ports: the front takes the one the launchers were built for.
    static constexpr int originPort = ORVANTA_E2E_PORT + 100;
    static constexpr int edgePort = ORVANTA_E2E_PORT + 101;

    void SetUp() override {
        if (target().windows) {
            GTEST_SKIP() << "the CDN scenarios run on Linux only";
        }
        LauncherEndToEnd::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        for (const char* sub : {"origin", "edge"}) {
            std::filesystem::create_directories(dir_.file(sub));
        }
        const OriginServer origin =
            originFromSample(readFile(ORVANTA_SOURCE_DIR "/packaging/nginx-orvanta.conf"),
                             dir_.file("site"), originPort);
        ASSERT_EQ(origin.error, "");
        origin_.emplace(dir_.file("origin"), dir_.file("site"), "", "", originPort);
        origin_->useServers(origin.servers);
        edge_.emplace(dir_.file("edge"), edgePort, originPort);
    }

    void TearDown() override {
        if (target().windows) {
            return;
        }
        if (HasFailure()) {
            std::cerr << "origin access log:\n"
                      << (origin_ ? origin_->accessLog() : "") << "\norigin error log:\n"
                      << readFile(dir_.file("origin/error.log")) << "\nvarnishd:\n"
                      << (edge_ ? edge_->output() : "") << "\n";
        }
        LauncherEndToEnd::TearDown();
        edge_.reset();
        origin_.reset();
    }

    // Origin, cache and front (nginx_, on the launchers' port), in that order.
    void startCdn(bool resetPacks = false) {
        ASSERT_EQ(origin_->start(), "");
        ASSERT_EQ(edge_->start(), "");
        nginx_->useServers(tlsFrontServer(trusted_.certPath, trusted_.keyPath, target().port,
                                          edgePort, resetPacks));
        ASSERT_EQ(nginx_->start(), "");
    }

    // Requests for a game version's file that reached the origin.
    int atOrigin(const std::string& version, const std::string& extension) const {
        return origin_->requestsFor(channelRequest(version, extension));
    }

    // Ready or Error, whichever the launcher comes to; nullopt when neither within the wait.
    std::optional<Rgb> waitForReadyOrError() {
        std::optional<Rgb> seen;
        waitUntil(
            [&] {
                lastShot_ = client_->capture(window_);
                if (lastShot_ && lastShot_->width > dotX && lastShot_->height > dotY) {
                    for (const Rgb dot : {readyDot, errorDot}) {
                        if (lastShot_->at(dotX, dotY).near(dot)) {
                            seen = dot;
                        }
                    }
                }
                return seen.has_value();
            },
            90s, 150ms);
        return seen;
    }

    std::optional<Nginx> origin_;
    std::optional<Varnish> edge_;
};

// Two players, three checks: the build files went through the cache, each reaching the origin at
// most once, while every check of the manifest reached it.
TEST_F(CdnEndToEnd, BuildFilesLeaveTheOriginOnceAndEveryManifestCheckReachesIt) {
    publish("1.0");
    startCdn();
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0")));
    closeAndExpectExitZero();

    publish("1.1");
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.1")));
    EXPECT_EQ(readFile(installDir() + "/version.txt"), "1.1");
    closeAndExpectExitZero();

    // A second player, with nothing installed, through the same cache.
    std::filesystem::remove_all(installDir());
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.1")));
    closeAndExpectExitZero();

    for (const char* version : {"1.0", "1.1"}) {
        for (const char* extension : {"chunks", "pack", "exe"}) {
            EXPECT_LE(atOrigin(version, extension), 1) << version << " " << extension;
        }
    }
    // The update came from 1.1's chunks, not as the whole build.
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.1", "exe")), 0);
    EXPECT_EQ(nginx_->requestsFor(channelRequest("1.1", "chunks")), 2);
    EXPECT_EQ(atOrigin("1.1", "chunks"), 1);
    EXPECT_EQ(origin_->requestsFor("GET /orvanta-downloads/manifest.json "), 3);
}

// A version published again with other contents while the edge holds the first contents' index,
// pack and (from another player's whole download) build: the next start installs the new ones.
TEST_F(CdnEndToEnd, AVersionRepublishedWithOtherContentsIsInstalledPastTheCachedCopies) {
    publish("1.0");
    startCdn();
    startLauncher();
    expectReadyScreen();
    closeAndExpectExitZero();
    ASSERT_EQ(plainGet(edgePort, "/orvanta-downloads/" + channelFile("1.0", "exe")).status, 200);

    constexpr std::size_t otherPayload = sharedPayloadBytes + 4096;
    publish("1.0", {}, otherPayload);
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0", otherPayload)));
    closeAndExpectExitZero();
}

// An edge that keeps one file of the pair despite its no-cache, while the other passes through,
// holds the two at different ages: a stale manifest still signed (the signature file keeps the
// lines of earlier manifests), or a signature that does not know the new manifest. Either way only
// signed builds go in, and once the edge's copy has expired the next check (Retry after an error,
// a new start after Ready) installs the new one.
TEST_F(CdnEndToEnd, AManifestAndSignatureOfDifferentAgesOnlyDelayTheUpdate) {
    const std::string key = ORVANTA_SOURCE_DIR "/tests/data/signing/studio-a.pem";
    constexpr auto hold = 8s;
    std::string previous = "1.0";
    publish(previous, key);
    for (const std::string held : {"manifest.json", "manifest.json.sig"}) {
        SCOPED_TRACE(held + " held at the edge");
        edge_->hold(held, hold);
        startCdn();
        // The edge takes its copy at this check.
        startLauncher(target().signedLauncher);
        expectReadyScreen();
        EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild(previous)));
        closeAndExpectExitZero();

        const std::string next = previous == "1.0" ? "2.0" : "3.0";
        publish(next, key);
        startLauncher(target().signedLauncher);
        const std::optional<Rgb> outcome = waitForReadyOrError();
        ASSERT_TRUE(outcome.has_value()) << "neither Ready nor Error";
        const std::string installed = readFile(installedGame());
        EXPECT_TRUE(installed == gameBuild(previous) || installed == gameBuild(next))
            << "installed a build that is neither " << previous << " nor " << next;
        if (!outcome->near(readyDot) || installed != gameBuild(next)) {
            const std::string current = readFile(dir_.file("site/orvanta-downloads/" + held));
            ASSERT_TRUE(waitUntil(
                [&] { return plainGet(edgePort, "/orvanta-downloads/" + held).body == current; },
                hold + 10s, 500ms))
                << "the edge kept its copy";
            if (outcome->near(errorDot)) {
                ASSERT_TRUE(click(display_->name(), window_, buttonX, buttonY));
            } else {
                closeAndExpectExitZero();
                startLauncher(target().signedLauncher);
            }
        }
        expectReadyScreen();
        EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild(next)));
        closeAndExpectExitZero();
        previous = next;
    }
}

// A front that cuts every pack request: the same attempt downloads the whole build instead.
TEST_F(CdnEndToEnd, APackHostThatResetsConnectionsFallsBackToTheWholeBuild) {
    publish("1.0");
    startCdn(true);
    startLauncher();
    expectReadyScreen();
    EXPECT_TRUE(test::sameBytes(readFile(installedGame()), gameBuild("1.0")));
    EXPECT_GE(nginx_->requestsFor(channelRequest("1.0", "pack")), 1);
    EXPECT_EQ(atOrigin("1.0", "pack"), 0);
    EXPECT_EQ(atOrigin("1.0", "exe"), 1);
    closeAndExpectExitZero();
}

} // namespace
} // namespace orvanta::e2e
