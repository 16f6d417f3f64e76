#pragma once

#include "platform/sha256.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/install.hpp"
#include "update/launcher_update.hpp"

#include <gtest/gtest.h>
#include <string>

namespace orvanta::test {

// A launcher 1.0 installed per user in a temporary folder, and a channel serving build 1.1 of it.
class LauncherUpdateTest : public testing::Test {
  protected:
    void SetUp() override {
        server.server().Get("/launcher-1.1",
                            [this](const httplib::Request&, httplib::Response& res) {
                                res.set_content(served, "application/octet-stream");
                            });
        server.server().Get(
            "/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        server.start();
        writeFile(launcherPath, oldLauncher, true);
    }
    void TearDown() override { server.stop(); }

    std::string sha256Of(const std::string& bytes) { return digestHex(*sha256Bytes(bytes)); }

    // Announces build as launcher 1.1 (its digest and size).
    UpdateManifest announcing(const std::string& build) {
        served = build;
        UpdateManifest m;
        m.game_version = "1.0";
        m.game_url = server.url("/game");
        m.launcher_version = "1.1";
        m.launcher_url = server.url("/launcher-1.1");
        m.launcher_sha256 = sha256Of(build);
        m.launcher_size = build.size();
        return m;
    }

    OwnLauncher own() { return OwnLauncher{"1.0", launcherPath, {"--one", "two words"}}; }
    LauncherUpdate update() { return LauncherUpdate(own(), refusedPath); }

    // The launcher in place is still the old one and nothing is left beside it.
    void expectOldLauncherAlone() {
        EXPECT_EQ(readFile(launcherPath), oldLauncher);
        EXPECT_FALSE(fileExists(launcherPath + ".download"));
        EXPECT_FALSE(fileExists(launcherPath + ".old"));
    }

    TempDir dir;
    LoopbackServer server;
    std::string served;
    std::string launcherPath = dir.file("orvanta-launcher");
    std::string refusedPath = dir.file(refusedLaunchersFileName);
    std::string oldLauncher = "#!/bin/sh\nexit 0\n# launcher 1.0\n";
};

} // namespace orvanta::test
