#include "update/launcher_update.hpp"

#include "platform/http.hpp"
#include "platform/launcher_process.hpp"
#include "platform/sha256.hpp"
#include "platform/small_file.hpp"
#include "update/install.hpp"
#include "update/versions.hpp"

#include <cstdint>
#include <utility>

namespace orvanta {

namespace {

// Refused digests kept: a few are plenty, and the record stays far below its size limit.
constexpr std::size_t maxRefused = 16;

} // namespace

LauncherUpdate::LauncherUpdate(OwnLauncher own, std::string refusedPath)
    : own_(std::move(own)), refusedPath_(std::move(refusedPath)) {}

bool LauncherUpdate::offered(const UpdateManifest& manifest) const {
    // A build that already is the one announced (its version mislabelled) would replace itself
    // with itself at every start.
    return !own_.path.empty() && !manifest.launcher_version.empty() &&
           !manifest.launcher_url.empty() && !manifest.launcher_sha256.empty() &&
           !equalsIgnoreCase(manifest.launcher_version, own_.version) &&
           !installedByPackageManager(own_.path) && !refused(manifest.launcher_sha256) &&
           !equalsIgnoreCase(sha256File(own_.path), manifest.launcher_sha256);
}

bool LauncherUpdate::fetch(const UpdateManifest& manifest) {
    const std::string downloadPath = own_.path + downloadSuffix;
    // Made before the transfer: a folder the player cannot write costs no download.
    std::error_code ignored;
    if (!clearDownloadName(downloadPath, ignored) || !staged_.create(downloadPath)) {
        return false;
    }
    std::uint64_t received = 0;
    bool tooLong = false;
    const DownloadSink sink{[] { return true; },
                            [&](const char* data, std::size_t size) {
                                received += size;
                                if (manifest.launcher_size && received > *manifest.launcher_size) {
                                    tooLong = true;
                                    return false;
                                }
                                return staged_.write(data, size);
                            }};
    if (!downloadToSink(manifest.launcher_url, sink, {})) {
        // A transfer that failed is tried again at the next check; a build too long never is.
        staged_.discard();
        if (tooLong) {
            refuse(manifest.launcher_sha256);
        }
        return false;
    }
    const std::string digest = staged_.sha256();
    const bool sized = !manifest.launcher_size || received == *manifest.launcher_size;
    if (!sized || digest.empty() || !equalsIgnoreCase(digest, manifest.launcher_sha256)) {
        staged_.discard();
        if (!sized || !digest.empty()) {
            refuse(manifest.launcher_sha256);
        }
        return false;
    }
    if (!staged_.makeExecutable() || !staged_.flush()) {
        staged_.discard();
        return false;
    }
    sha256_ = manifest.launcher_sha256;
    return true;
}

bool LauncherUpdate::handOver(std::chrono::milliseconds wait,
                              const std::function<void(HandOverStep)>& onStep) {
    const auto reached = [&](HandOverStep step) {
        if (onStep) {
            onStep(step);
        }
    };
    if (!staged_.isOpen()) {
        return false;
    }
    reached(HandOverStep::fetched);
    const std::string aside = own_.path + setAsideSuffix;
    if (!setAsideRunningExecutable(own_.path, aside)) {
        staged_.discard();
        return false;
    }
    reached(HandOverStep::setAside);
    if (!staged_.moveTo(own_.path)) {
        staged_.discard();
        putBackExecutable(aside, own_.path);
        removeSetAsideExecutable(aside); // on Linux a second name of the file in place
        return false;
    }
    reached(HandOverStep::inPlace);
    LauncherStart successor;
    if (successor.start(own_.path, own_.arguments)) {
        reached(HandOverStep::started);
        if (successor.awaitReady(wait)) {
            return true;
        }
    }
    // Not a launcher that comes up: this build goes back where it was, and that one is refused.
    putBackExecutable(aside, own_.path);
    refuse(sha256_);
    return false;
}

bool LauncherUpdate::refused(const std::string& sha256) const {
    for (const std::string& line : nonEmptyLines(readTrimmedFile(refusedPath_))) {
        if (equalsIgnoreCase(line, sha256)) {
            return true;
        }
    }
    return false;
}

void LauncherUpdate::refuse(const std::string& sha256) const {
    std::vector<std::string> lines = nonEmptyLines(readTrimmedFile(refusedPath_));
    lines.push_back(sha256);
    if (lines.size() > maxRefused) {
        lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(maxRefused));
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    writeTextFile(refusedPath_, text);
}

void finishLauncherHandOver(const std::string& ownPath) {
    removeSetAsideExecutable(ownPath + setAsideSuffix);
    // What cannot go now is cleared by the next update; nothing is ever started from it.
    std::error_code ignored;
    clearDownloadName(ownPath + downloadSuffix, ignored);
}

} // namespace orvanta
