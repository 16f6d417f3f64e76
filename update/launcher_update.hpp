#pragma once

#include "platform/staged_file.hpp"
#include "update/manifest.hpp"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace orvanta {

// This launcher's own build: what it is and where it runs from.
struct OwnLauncher {
    std::string version;
    std::string path; // its executable
    std::vector<std::string> arguments;
};

// Beside the game: the digests of launcher builds that failed, never fetched again.
inline constexpr const char* refusedLaunchersFileName = "refused-launchers.txt";
// Beside the launcher: the replaced build, kept until its successor is up.
inline constexpr const char* setAsideSuffix = ".old";
// How long a new launcher has to open its window.
inline constexpr std::chrono::seconds launcherStartWait{15};

// Where a hand-over stands, for tests that end the process between two steps.
enum class HandOverStep { fetched, setAside, inPlace, started };

// Brings the launcher build a manifest announces in place of this one and starts it. Any failure
// leaves this build in place and running; one that is the build's own (another digest or size, or
// a build that does not come up) is remembered, and that build never fetched again.
class LauncherUpdate {
  public:
    LauncherUpdate(OwnLauncher own, std::string refusedPath);

    // Whether the manifest announces a whole launcher build of another version and digest, not
    // refused, and this launcher may replace itself (a package manager's launcher never does).
    bool offered(const UpdateManifest& manifest) const;
    // Fetches it beside this launcher (path + ".download") and checks its size and digest. False
    // on any failure, the file then gone.
    bool fetch(const UpdateManifest& manifest);
    // Puts the fetched build in this one's place and starts it with this one's arguments: true once
    // it is up, when this launcher should end. False when it could not be put in place, started,
    // or did not come up within wait: this build is then back in place.
    bool handOver(std::chrono::milliseconds wait,
                  const std::function<void(HandOverStep)>& onStep = {});

  private:
    bool refused(const std::string& sha256) const;
    void refuse(const std::string& sha256) const;

    OwnLauncher own_;
    std::string refusedPath_;
    std::string sha256_; // of the fetched build
    StagedFile staged_;
};

// At start: what a hand-over to the launcher at ownPath left beside it goes (the replaced build,
// an unfinished download), unless another launcher is still writing it.
void finishLauncherHandOver(const std::string& ownPath);

} // namespace orvanta
