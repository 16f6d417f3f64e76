#include "update/game_install.hpp"

#include "platform/paths.hpp"
#include "platform/remove_tree.hpp"
#include "platform/staged_file.hpp"
#include "update/chunks/chunk_assembly.hpp"
#include "update/install.hpp"
#include "update/versions.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>

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
        clearDownloadName(downloadPath);
    }
    return message;
}

// The verified file must be complete on disk before it takes the installed game's place; the
// rename then swaps it in atomically, so a crash leaves either the old or the new game. Absent
// when the file is not the manifest's build (it is then removed). knownSha256, when not empty, is
// the file's digest as taken while it was written; otherwise the file is read for it.
std::optional<std::string>
installVerified(const UpdateManifest& manifest, const std::string& exePath,
                const std::string& versionPath, const std::function<void()>& onVerifying,
                StagedFile& staged, const std::string& knownSha256 = {}) {
    if (!manifest.game_sha256.empty()) {
        if (onVerifying) {
            onVerifying();
        }
        const std::string digest = knownSha256.empty() ? staged.sha256() : knownSha256;
        if (digest.empty() || !equalsIgnoreCase(digest, manifest.game_sha256)) {
            staged.discard();
            return std::nullopt;
        }
    }
    if (!staged.makeExecutable() || !staged.flush() || !staged.moveTo(exePath)) {
        return failWith(installFailedMessage, staged, exePath + downloadSuffix);
    }
    writeTextFile(versionPath, manifest.game_version);
    return std::string();
}

// The whole build from game_url into the download file, then verified and moved into place. With
// keepCutShort the leftover of an earlier attempt goes only once the server has answered, and a
// transfer cut short keeps what it brought for the chunk route of the next attempt to build on;
// otherwise the caller has cleared the name.
std::string downloadWholeBuild(const UpdateManifest& manifest, const std::string& exePath,
                               const std::string& versionPath, const ProgressCallback& progress,
                               const std::function<void()>& onVerifying, bool keepCutShort) {
    const std::string downloadPath = exePath + downloadSuffix;
    // The file is created only once the server has answered, and only as a new file: anything
    // that appeared under its name meanwhile fails the download instead of being written through.
    StagedFile staged;
    bool busy = false;
    std::uint64_t received = 0;
    const DownloadSink sink{[&] {
                                busy = keepCutShort && !clearDownloadName(downloadPath);
                                if (!busy && !staged.create(downloadPath)) {
                                    busy = staged.busy();
                                    return false;
                                }
                                return !busy;
                            },
                            [&](const char* data, std::size_t size) {
                                received += size;
                                // Nothing beyond the announced size is worth receiving.
                                if (manifest.game_size && received > *manifest.game_size) {
                                    return false;
                                }
                                return staged.write(data, size);
                            }};
    if (!downloadToSink(manifest.game_url, sink, progress)) {
        if (busy) {
            return alreadyRunningMessage; // the other launcher's file stays as it is
        }
        // What the file holds stays for the next attempt's chunks: this transfer's bytes, or an
        // earlier attempt's when the server never answered.
        if (keepCutShort) {
            if (staged.isOpen()) {
                staged.keep();
            }
            return downloadFailedMessage;
        }
        return failWith(downloadFailedMessage, staged, downloadPath);
    }
    // The transfer ended well but brought fewer bytes than the manifest announced.
    if (manifest.game_size && received != *manifest.game_size) {
        if (onVerifying && !manifest.game_sha256.empty()) {
            onVerifying();
        }
        return failWith(verificationFailedMessage, staged, downloadPath);
    }
    return installVerified(manifest, exePath, versionPath, onVerifying, staged)
        .value_or(verificationFailedMessage);
}

// The build put together from its chunks; absent when the server's chunk data cannot make it or
// the pack cannot be fetched, and a whole download must.
std::optional<std::string> installFromChunks(const UpdateManifest& manifest,
                                             const std::string& exePath,
                                             const std::string& versionPath,
                                             const ProgressCallback& progress,
                                             const std::function<void()>& onVerifying) {
    const std::optional<ChunkedBuild> build = fetchChunkedBuild(manifest);
    if (!build) {
        return std::nullopt;
    }
    const std::string downloadPath = exePath + downloadSuffix;
    // An earlier attempt's file is built on; anything else under its name (a folder, a link, a
    // file with a second name) goes first.
    StagedFile staged;
    if (!staged.resume(downloadPath)) {
        if (staged.busy()) {
            return alreadyRunningMessage;
        }
        removeLeftover(downloadPath);
        if (!staged.create(downloadPath)) {
            return staged.busy() ? alreadyRunningMessage : downloadFailedMessage;
        }
    }
    std::string buildSha256;
    switch (assembleBuild(*build, exePath, staged, progress, buildSha256)) {
    case AssemblyResult::failed:
        staged.keep();
        return downloadFailedMessage;
    case AssemblyResult::transferFailed:
        // game_url may be healthy where the pack is not: the whole download follows, and what
        // the chunks placed stays until game_url answers.
        staged.keep();
        return std::nullopt;
    case AssemblyResult::fallback:
        staged.discard();
        return std::nullopt;
    case AssemblyResult::assembled:
        break;
    }
    // The digest covers the bytes written; nothing else may lie in the file behind them.
    if (staged.size() != build->index.buildSize) {
        staged.discard();
        return std::nullopt;
    }
    // Every chunk matched its digest, so a build that fails the whole-file check was described by
    // an index that is not this manifest's (a channel being republished, say).
    return installVerified(manifest, exePath, versionPath, onVerifying, staged, buildSha256);
}

} // namespace

std::string installGameBuild(const UpdateManifest& manifest, const std::string& exePath,
                             const std::string& versionPath, const ProgressCallback& progress,
                             const std::function<void()>& onVerifying) {
    // Chunk digests are short, so a build put together from chunks is installed only after the
    // whole-file check: without game_sha256 there is none, and the whole download is the way.
    const bool chunkRoute = !manifest.game_chunks_url.empty() && !manifest.game_sha256.empty();
    if (chunkRoute) {
        if (std::optional<std::string> outcome =
                installFromChunks(manifest, exePath, versionPath, progress, onVerifying)) {
            return *outcome;
        }
    }
    // What a cut-short whole download brought is worth keeping only where its size is bounded.
    const bool keepCutShort = chunkRoute && manifest.game_size.has_value();
    if (!keepCutShort && !clearDownloadName(exePath + downloadSuffix)) {
        return alreadyRunningMessage;
    }
    return downloadWholeBuild(manifest, exePath, versionPath, progress, onVerifying, keepCutShort);
}

} // namespace orvanta
