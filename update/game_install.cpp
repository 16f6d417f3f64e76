#include "update/game_install.hpp"

#include "platform/paths.hpp"
#include "platform/remove_tree.hpp"
#include "platform/staged_file.hpp"
#include "update/install.hpp"
#include "update/versions.hpp"

#include <cstdint>
#include <filesystem>

namespace orvanta {

namespace {

// Whatever is left under the name (a file, a link, a folder) goes, a link or junction without
// what it points at; an absent one is fine, and any other failure is unexpected and propagates.
void removeLeftover(const std::string& path) {
    removeTree(nativePath(path));
}

std::string failWith(const char* message, StagedFile& staged, const std::string& downloadPath) {
    if (staged.isOpen()) {
        staged.discard();
    } else {
        removeLeftover(downloadPath);
    }
    return message;
}

} // namespace

std::string installGameBuild(const UpdateManifest& manifest, const std::string& exePath,
                             const std::string& versionPath, const ProgressCallback& progress,
                             const std::function<void()>& onVerifying) {
    const std::string downloadPath = exePath + downloadSuffix;
    removeLeftover(downloadPath);

    // The file is created only once the server has answered, and only as a new file: anything
    // that appeared under its name meanwhile fails the download instead of being written through.
    StagedFile staged;
    std::uint64_t received = 0;
    const DownloadSink sink{[&] { return staged.create(downloadPath); },
                            [&](const char* data, std::size_t size) {
                                received += size;
                                // Nothing beyond the announced size is worth receiving.
                                if (manifest.game_size && received > *manifest.game_size) {
                                    return false;
                                }
                                return staged.write(data, size);
                            }};
    if (!downloadToSink(manifest.game_url, sink, progress)) {
        return failWith(downloadFailedMessage, staged, downloadPath);
    }
    // The transfer ended well but brought fewer bytes than the manifest announced.
    if (manifest.game_size && received != *manifest.game_size) {
        return failWith(verificationFailedMessage, staged, downloadPath);
    }
    if (!manifest.game_sha256.empty()) {
        if (onVerifying) {
            onVerifying();
        }
        const std::string digest = staged.sha256();
        if (digest.empty() || !equalsIgnoreCase(digest, manifest.game_sha256)) {
            return failWith(verificationFailedMessage, staged, downloadPath);
        }
    }
    // The verified file must be complete on disk before it takes the installed game's place;
    // the rename then swaps it in atomically, so a crash leaves either the old or the new game.
    if (!staged.makeExecutable() || !staged.flush() || !staged.moveTo(exePath)) {
        return failWith(installFailedMessage, staged, downloadPath);
    }
    writeTextFile(versionPath, manifest.game_version);
    return {};
}

} // namespace orvanta
