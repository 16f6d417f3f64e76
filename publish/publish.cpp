#include "publish/publish.hpp"

#include "platform/sha256.hpp"
#include "platform/small_file.hpp"
#include "update/signed_manifest.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

// Whether the manifest read back announces exactly what was meant to be written.
bool announcesTheSame(const UpdateManifest& a, const UpdateManifest& b) {
    return a.game_version == b.game_version && a.game_url == b.game_url &&
           a.game_sha256 == b.game_sha256 && a.game_chunks_url == b.game_chunks_url &&
           a.game_chunks_sha256 == b.game_chunks_sha256 &&
           a.launcher_version == b.launcher_version && a.launcher_url == b.launcher_url &&
           a.launcher_sha256 == b.launcher_sha256 && a.changelog == b.changelog &&
           a.game_size == b.game_size && a.launcher_size == b.launcher_size;
}

} // namespace

PublishOutcome publishBuild(const PublishRequest& request) {
    PublishOutcome outcome;
    auto fail = [&outcome](std::string error) {
        outcome.error = std::move(error);
        return outcome;
    };

    if (const auto problem = checkVersion(request.version)) {
        return fail("version " + *problem);
    }
    const BaseUrl base = normalizeBaseUrl(request.baseUrl);
    if (!base.error.empty()) {
        return fail(base.error);
    }
    const bool withLauncher = !request.launcherPath.empty() || !request.launcherVersion.empty();
    if (withLauncher && (request.launcherPath.empty() || request.launcherVersion.empty())) {
        return fail("--launcher and --launcher-version must be given together");
    }
    if (withLauncher) {
        if (const auto problem = checkVersion(request.launcherVersion)) {
            return fail("launcher version " + *problem);
        }
    }
    if (request.outDirectory.empty()) {
        return fail("output folder must not be empty");
    }
    if (auto problem = checkSourceFile("game file", request.gamePath); !problem.empty()) {
        return fail(problem);
    }
    if (withLauncher) {
        if (auto problem = checkSourceFile("launcher file", request.launcherPath);
            !problem.empty()) {
            return fail(problem);
        }
    }
    const bool signing = !request.signingKeyPath.empty();
    if (request.expiresInDays != 0 && !signing) {
        return fail("--expires-in needs --signing-key");
    }
    SigningKey key;
    if (signing) {
        key = readSigningKey(request.signingKeyPath);
        if (!key.error.empty()) {
            return fail(key.error);
        }
    }
    std::string changelog;
    if (!request.changelogPath.empty()) {
        ChangelogText text = readChangelog(request.changelogPath);
        if (!text.error.empty()) {
            return fail(text.error);
        }
        changelog = std::move(text.text);
    }

    const std::string channel = (fs::path(request.outDirectory) / channelFolderName).string();
    std::error_code ec;
    fs::create_directories(channel, ec);
    if (ec || !fs::is_directory(channel, ec)) {
        return fail("cannot create output folder " + channel + ": " +
                    (ec ? ec.message() : std::string("not a folder")));
    }

    // Two publications at once would each sign over the manifest they read, and the later
    // rename could leave a signature file that does not cover the manifest beside it.
    ChannelLock lock;
    if (auto error = lock.acquire(channel); !error.empty()) {
        return fail(error);
    }

    const std::string manifestPath = channel + "/" + manifestFileName;
    const std::string signaturePath = channel + "/" + signatureFileName;
    const std::string previousManifest = readWholeFile(manifestPath).value_or(std::string());
    std::string publishedAt;
    if (!signing && fs::symlink_status(signaturePath, ec).type() != fs::file_type::not_found) {
        // An unsigned manifest there would be refused by every launcher that carries a key.
        return fail("the channel in " + channel + " is signed (" + signatureFileName +
                    " is there): publish with --signing-key");
    }
    std::string expiresAt;
    if (signing) {
        PublicationTimes times = publicationTimes(previousManifest, request.now,
                                                  request.allowClockBehind, request.expiresInDays);
        if (!times.error.empty()) {
            return fail(times.error);
        }
        publishedAt = std::move(times.publishedAt);
        expiresAt = std::move(times.expiresAt);
    }

    UpdateManifest& manifest = outcome.result.manifest;
    manifest.game_version = request.version;
    const PublishedFile game =
        publishFile(request.gamePath, channel, gameFileStem(request.version), gameFileExtension);
    if (!game.error.empty()) {
        return fail(game.error);
    }
    const std::string& gameName = game.fileName;
    manifest.game_url = channelUrl(base.url, gameName);
    manifest.game_sha256 = game.sha256;
    const std::uintmax_t gameSize = fs::file_size(channel + "/" + gameName, ec);
    if (ec) {
        return fail("cannot read the size of the published game file: " + ec.message());
    }
    manifest.game_size = static_cast<std::uint64_t>(gameSize);
    std::vector<std::string> publishedNames = {gameName};

    // Cut from the published copy, whose digest the manifest announces.
    std::string indexName;
    if (request.chunks) {
        const ChunkFiles chunks =
            publishChunkFiles(channel + "/" + gameName, channel, request.version);
        if (!chunks.error.empty()) {
            return fail(chunks.error);
        }
        indexName = chunks.indexName;
        if (auto problem = checkChunkFiles(channel + "/" + gameName, channel, indexName);
            !problem.empty()) {
            return fail(problem);
        }
        manifest.game_chunks_url = channelUrl(base.url, indexName);
        manifest.game_chunks_sha256 = chunks.indexSha256;
        outcome.result.chunkCount = chunks.chunkCount;
        outcome.result.packBytes = chunks.packBytes;
        publishedNames.insert(publishedNames.end(), {indexName, chunks.packName});
    }

    std::string launcherName;
    if (withLauncher) {
        const PublishedFile launcher = publishFile(request.launcherPath, channel,
                                                   launcherFileStem(request.launcherVersion), "");
        if (!launcher.error.empty()) {
            return fail(launcher.error);
        }
        launcherName = launcher.fileName;
        manifest.launcher_version = request.launcherVersion;
        manifest.launcher_url = channelUrl(base.url, launcherName);
        manifest.launcher_sha256 = launcher.sha256;
        const std::uintmax_t launcherSize = fs::file_size(channel + "/" + launcherName, ec);
        if (ec) {
            return fail("cannot read the size of the published launcher file: " + ec.message());
        }
        manifest.launcher_size = static_cast<std::uint64_t>(launcherSize);
        publishedNames.push_back(launcherName);
    }
    manifest.changelog = changelog;

    // A signed manifest names the one address it may be served at.
    const std::string manifestAddress = channelUrl(base.url, manifestFileName);
    const std::string manifestText =
        manifestJson(manifest, publishedAt, signing ? manifestAddress : std::string(), expiresAt);
    if (signing) {
        // Launchers that carry a key install nothing unverified.
        if (manifest.game_sha256.empty()) {
            return fail("a signed manifest needs the game's SHA-256");
        }
        if (auto error = writeSignatureFile(signaturePath, manifestText, key,
                                            request.signingKeyPath, previousManifest);
            !error.empty()) {
            return fail(error);
        }
    }

    // Recorded before the manifest names them, so that a prune never takes them from under it.
    if (auto error = recordPublication(channel, publishedNames); !error.empty()) {
        return fail(error);
    }

    // The manifest goes last: until it is renamed into place, the server keeps announcing the
    // previous build, whose files are still there.
    if (auto error = writeFileAtomically(manifestPath, manifestText); !error.empty()) {
        return fail(error);
    }

    // Read back what a launcher would read.
    const std::string written = readWholeFile(manifestPath).value_or(std::string());
    const std::optional<UpdateManifest> parsed = parseManifest(written);
    if (!parsed || !announcesTheSame(*parsed, manifest)) {
        return fail("the manifest read back from " + manifestPath +
                    " differs from what was written");
    }
    if (sha256File(channel + "/" + gameName) != parsed->game_sha256 ||
        fs::file_size(channel + "/" + gameName, ec) != parsed->game_size) {
        return fail("the published game file no longer matches the manifest's digest");
    }
    if (request.chunks && sha256File(channel + "/" + indexName) != parsed->game_chunks_sha256) {
        return fail("the published chunk index no longer matches the manifest's digest");
    }
    if (withLauncher &&
        (sha256File(channel + "/" + launcherName) != parsed->launcher_sha256 ||
         fs::file_size(channel + "/" + launcherName, ec) != parsed->launcher_size)) {
        return fail("the published launcher file no longer matches the manifest's digest");
    }
    if (signing) {
        const std::string signatures =
            readSmallFile(signaturePath, maxSignatureFileBytes).value_or(std::string());
        if (!signatureFileVerifies(signatures, written, key.publicKeyPem) ||
            manifestPublishedAt(written) != publishedAt ||
            manifestChannel(written) != manifestAddress) {
            return fail("the signature read back from " + signaturePath +
                        " does not verify the manifest");
        }
    }

    outcome.result.channelDirectory = channel;
    outcome.result.manifestPath = manifestPath;
    if (signing) {
        outcome.result.signaturePath = signaturePath;
        outcome.result.publishedAt = publishedAt;
    }
    outcome.result.manifestUrl = manifestAddress;
    return outcome;
}

} // namespace orvanta::publish
