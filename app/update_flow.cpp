#include "app/launcher.hpp"
#include "platform/paths.hpp"
#include "update/game_install.hpp"
#include "update/install.hpp"
#include "update/signed_manifest.hpp"
#include "update/update_check.hpp"

#include <filesystem>

namespace orvanta {

namespace {

constexpr const char* unreachableMessage = "Could not reach update server.";
constexpr const char* invalidManifestMessage = "Update manifest is invalid.";
constexpr const char* missingGameMessage = "Game files are missing. Try restarting the launcher.";
constexpr const char* alreadyRunningAdvice = "Close the other Orvanta window, then press Retry.";

bool isSuccess(const std::optional<HttpResponse>& response) {
    return response && response->statusCode >= 200 && response->statusCode <= 299;
}

} // namespace

// Fetches the manifest, brings the installed game up to it and ends in Ready or Error. The phase
// is always set before setStatus, which colours the dot by it.
void Launcher::checkForUpdates() {
    // A second launcher on the same folder leaves it to the first. A folder that cannot hold a
    // lock (it could not be opened, or its file system has no locks) is worked on without one.
    const bool lockedBefore = folderLock.held();
    const FolderLockResult lock = folderLock.acquire(installDirectory);
    if (lock == FolderLockResult::HeldElsewhere) {
        phase = LauncherPhase::Error;
        lastError = alreadyRunningMessage;
        setStatus(lastError, errorColor);
        setChangelog(alreadyRunningAdvice);
        return;
    }
    if (lock == FolderLockResult::Held && !lockedBefore) {
        // Another launcher may have installed a build since this one read the record.
        installedVersion = readTrimmedFile(versionPath);
        if (installedVersion.empty()) {
            installedVersion = "0.0.0";
        }
    }

    std::optional<HttpResponse> response = fetchRevalidated(manifestAddress);
    if (!isSuccess(response)) {
        phase = LauncherPhase::Error;
        lastError = unreachableMessage;
        setStatus(lastError, errorColor);
        setChangelog("Connect to the internet and press Retry.");
        return;
    }

    // A launcher that carries keys uses only a manifest the studio signed, never an older one
    // than it accepted before; without keys the signature file is never fetched. A cache may
    // hold the manifest and its signature at different ages: a signature that does not verify
    // the manifest it came with is worth one more fetch of both.
    for (int fetches = 1;; ++fetches) {
        manifest = parseManifest(response->body);
        bool signatureMismatch = false;
        if (manifest && !manifestKeys.empty() &&
            !acceptSignedManifest(manifestAddress, manifestAddress, response->body, *manifest,
                                  manifestKeys, publishedAtPath, &signatureMismatch)) {
            manifest.reset();
        }
        if (manifest || !signatureMismatch || fetches == 2) {
            break;
        }
        response = fetchRevalidated(manifestAddress);
        if (!isSuccess(response)) {
            break;
        }
    }
    if (!manifest) {
        phase = LauncherPhase::Error;
        lastError = invalidManifestMessage;
        setStatus(lastError, errorColor);
        setChangelog("The update file on the server may be misconfigured.");
        return;
    }
    const UpdateManifest& current = *manifest;
    if (handOverToNewLauncher(current)) {
        return;
    }
    setChangelog(current.changelog.empty() ? "No changelog for this version." : current.changelog);

    if (needsUpdate(current) && !downloadAndInstall(current)) {
        phase = LauncherPhase::Error;
        setStatus(lastError, errorColor);
        if (lastError == alreadyRunningMessage) {
            setChangelog(alreadyRunningAdvice);
        }
        return;
    }

    installedVersion = readTrimmedFile(versionPath);
    if (installedVersion.empty()) {
        installedVersion = current.game_version;
    }
    versionText.setString(
        utf8ToDisplay("Installed v" + installedVersion + "   |   Latest v" + current.game_version));
    ++screenRevision;

    if (std::filesystem::exists(nativePath(exePath))) {
        phase = LauncherPhase::Ready;
        setStatus("Ready to play.", statusColor);
        setProgress(1.0f);
    } else {
        phase = LauncherPhase::Error;
        lastError = missingGameMessage;
        setStatus(lastError, errorColor);
    }
}

bool Launcher::handOverToNewLauncher(const UpdateManifest& current) {
    if (!ownLauncher) {
        return false;
    }
    LauncherUpdate update(*ownLauncher, joinPath(installDirectory, refusedLaunchersFileName));
    if (!update.offered(current) || !update.fetch(current)) {
        return false;
    }
    // The new launcher takes the folder's lock and the screen; should it not come up, this one
    // takes them back and goes on.
    folderLock.release();
    window.setVisible(false);
    if (update.handOver(launcherStartWait)) {
        window.close(); // ends the frame loop: the new launcher has the screen
        return true;
    }
    window.setVisible(true);
    folderLock.acquire(installDirectory);
    return false;
}

bool Launcher::needsUpdate(const UpdateManifest& current) const {
    return gameNeedsUpdate(exePath, installedVersion, current);
}

bool Launcher::downloadAndInstall(const UpdateManifest& current) {
    phase = LauncherPhase::Downloading;
    setStatus("Downloading update...", statusColor);
    setProgress(0.0f);

    const std::string failure = installGameBuild(
        current, exePath, versionPath,
        [this](std::uint64_t received, std::uint64_t total) {
            onDownloadProgress(received, total);
        },
        [this] { setStatus("Verifying download...", statusColor); });
    if (!failure.empty()) {
        lastError = failure;
        return false;
    }
    installedVersion = current.game_version;
    return true;
}

} // namespace orvanta
