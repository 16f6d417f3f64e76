#pragma once

// The publishing tool's interface: the channel's files, the manifest and its signatures, and the
// publication that puts them in place in the right order.
#include "publish/channel_files.hpp"
#include "publish/channel_lock.hpp"
#include "publish/channel_prune.hpp"
#include "publish/chunk_pack.hpp"
#include "publish/manifest_signing.hpp"
#include "publish/manifest_writer.hpp"
#include "update/manifest.hpp"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvanta::publish {

// One build to publish. launcherPath and launcherVersion are given together or not at all;
// changelogPath may be empty (no changelog).
struct PublishRequest {
    std::string gamePath;
    std::string version;
    std::string baseUrl;
    std::string changelogPath;
    std::string launcherPath;
    std::string launcherVersion;
    std::string outDirectory;
    std::string signingKeyPath; // a PEM P-256 private key: sign the manifest; empty: do not
    std::time_t now = 0;        // the publication time for a signed manifest; 0: the clock's
    bool chunks = true;         // also write the chunk pack and index and announce them
    // The channel's manifest is dated later than the clock: publish anyway, dated at the clock,
    // which launchers take because they record no date later than their own clock.
    bool allowClockBehind = false;
    unsigned expiresInDays = 0; // a signed manifest expires this many days after it is dated
};

// What a successful publication wrote.
struct PublishResult {
    UpdateManifest manifest;
    std::string channelDirectory; // outDirectory + "/orvanta-downloads"
    std::string manifestPath;
    std::string signaturePath;   // empty when the manifest was not signed
    std::string publishedAt;     // the signed manifest's "published_at"
    std::string manifestUrl;     // the address the launcher must be built with
    std::size_t chunkCount = 0;  // chunks in the pack (0 without chunk files)
    std::uint64_t packBytes = 0; // the pack's size
};

// Publishes one build: validates the request, publishes the game (and launcher) files and the
// game's chunk files (checked to rebuild the game), writes the manifest last, then reads it back
// and checks it and the digests. The error is empty on success. With a signing key the signature
// file (the new manifest's line, then the lines of the manifest it replaces) is written just before
// the manifest, and both are checked as a launcher would.
struct PublishOutcome {
    PublishResult result;
    std::string error;
};
PublishOutcome publishBuild(const PublishRequest& request);

// Signs the channel's live manifest again, for a channel that must not go stale: a new
// published_at (and expires_at), the build and every other key left as they are.
struct ResignRequest {
    std::string signingKeyPath;
    std::string outDirectory;
    std::time_t now = 0; // 0: the clock's
    bool allowClockBehind = false;
    unsigned expiresInDays = 0; // 0: the resigned manifest does not expire
};
PublishOutcome resignManifest(const ResignRequest& request);

} // namespace orvanta::publish
