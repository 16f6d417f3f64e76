#include "update/game_install.hpp"

#include "platform/file_sync.hpp"
#include "platform/sha256.hpp"
#include "update/install.hpp"
#include "update/versions.hpp"

#include <filesystem>

namespace orvanta {

namespace {

// Removing an absent file is fine; any other failure is unexpected and propagates.
void removeLeftover(const std::string& path) {
    std::filesystem::remove(std::filesystem::path(path));
}

std::string failWith(const char* message, const std::string& downloadPath) {
    removeLeftover(downloadPath);
    return message;
}

} // namespace

std::string installGameBuild(const UpdateManifest& manifest, const std::string& exePath,
                             const std::string& versionPath, const ProgressCallback& progress,
                             const std::function<void()>& onVerifying) {
    const std::string downloadPath = exePath + downloadSuffix;
    removeLeftover(downloadPath);

    if (!downloadToFile(manifest.game_url, downloadPath, progress)) {
        return failWith(downloadFailedMessage, downloadPath);
    }
    if (!manifest.game_sha256.empty()) {
        if (onVerifying) {
            onVerifying();
        }
        const std::string digest = sha256File(downloadPath);
        if (digest.empty() || !equalsIgnoreCase(digest, manifest.game_sha256)) {
            return failWith(verificationFailedMessage, downloadPath);
        }
    }
    // The verified file must be complete on disk before it takes the installed game's place;
    // the rename then swaps it in atomically, so a crash leaves either the old or the new game.
    if (!makeExecutableAndFlush(downloadPath)) {
        return failWith(installFailedMessage, downloadPath);
    }
    std::error_code renameError;
    std::filesystem::rename(downloadPath, exePath, renameError);
    if (renameError) {
        return failWith(installFailedMessage, downloadPath);
    }
    flushDirectory(std::filesystem::path(exePath).parent_path().string());
    writeTextFile(versionPath, manifest.game_version);
    return {};
}

} // namespace orvanta
