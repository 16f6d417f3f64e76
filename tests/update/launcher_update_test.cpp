// Whether a launcher takes the launcher build a manifest announces, and how fetching it fails.
#include "update/launcher_update_fixture.hpp"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace orvanta {
namespace {

using test::LauncherUpdateTest;
using test::readFile;

const std::string newLauncher = "#!/bin/sh\nexit 0\n# launcher 1.1\n";

TEST_F(LauncherUpdateTest, TakesOnlyAWholeAnnouncementOfAnotherBuild) {
    struct Case {
        const char* what;
        std::function<void(UpdateManifest&, OwnLauncher&)> change;
        bool offered;
    };
    const Case cases[] = {
        {"another version", [](UpdateManifest&, OwnLauncher&) {}, true},
        {"the same version in other letters",
         [](UpdateManifest& m, OwnLauncher& own) {
             own.version = "1.1-RC";
             m.launcher_version = "1.1-rc";
         },
         false},
        {"no version", [](UpdateManifest& m, OwnLauncher&) { m.launcher_version.clear(); }, false},
        {"no address", [](UpdateManifest& m, OwnLauncher&) { m.launcher_url.clear(); }, false},
        {"no digest", [](UpdateManifest& m, OwnLauncher&) { m.launcher_sha256.clear(); }, false},
        {"no size: the digest still decides",
         [](UpdateManifest& m, OwnLauncher&) { m.launcher_size.reset(); }, true},
        {"its own path unknown", [](UpdateManifest&, OwnLauncher& own) { own.path.clear(); },
         false},
        {"already that build, its version mislabelled",
         [this](UpdateManifest& m, OwnLauncher&) { m.launcher_sha256 = sha256Of(oldLauncher); },
         false},
    };
    for (const Case& c : cases) {
        UpdateManifest m = announcing(newLauncher);
        OwnLauncher own{"1.0", launcherPath, {}};
        c.change(m, own);
        EXPECT_EQ(LauncherUpdate(own, refusedPath).offered(m), c.offered) << c.what;
    }
}

// A build that is not the one announced is refused for good; one that could not be fetched is
// tried again at the next check. Either way the launcher in place stays, alone.
TEST_F(LauncherUpdateTest, AFailedFetchLeavesTheLauncherAndRefusesOnlyAWrongBuild) {
    struct Case {
        const char* what;
        std::function<void(UpdateManifest&)> spoil;
        bool refused;
    };
    const Case cases[] = {
        {"another digest", [](UpdateManifest& m) { m.launcher_sha256[3] ^= 1; }, true},
        {"longer than announced", [](UpdateManifest& m) { --*m.launcher_size; }, true},
        {"shorter than announced", [](UpdateManifest& m) { ++*m.launcher_size; }, true},
        {"not found", [this](UpdateManifest& m) { m.launcher_url = server.url("/missing"); },
         false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(refusedPath);
        UpdateManifest m = announcing(newLauncher);
        c.spoil(m);
        LauncherUpdate update = this->update();
        EXPECT_FALSE(update.fetch(m)) << c.what;
        expectOldLauncherAlone();
        EXPECT_EQ(update.offered(m), !c.refused) << c.what;
    }
    // The right build is still taken after a wrong one was refused.
    const UpdateManifest right = announcing(newLauncher);
    {
        LauncherUpdate update = this->update();
        EXPECT_TRUE(update.offered(right));
        EXPECT_TRUE(update.fetch(right));
    }
    EXPECT_EQ(readFile(launcherPath + ".download"), newLauncher);
}

} // namespace
} // namespace orvanta
