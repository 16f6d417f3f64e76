#pragma once

#include "update/manifest.hpp"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace orvanta::publish {

// The folder inside the output folder that a web server exposes; the launcher's manifest address
// ends in "/orvanta-downloads/manifest.json".
inline constexpr const char* channelFolderName = "orvanta-downloads";
inline constexpr const char* manifestFileName = "manifest.json";
inline constexpr const char* signatureFileName = "manifest.json.sig";
// What keygen writes into its folder.
inline constexpr const char* privateKeyFileName = "orvanta-signing-key.pem";
inline constexpr const char* publicKeyFileName = "orvanta-signing-key.pub.pem";
// The most signature lines of earlier manifests a signature file carries on.
inline constexpr std::size_t maxCarriedSignatures = 3;

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
};

// What a successful publication wrote.
struct PublishResult {
    UpdateManifest manifest;
    std::string channelDirectory; // outDirectory + "/orvanta-downloads"
    std::string manifestPath;
    std::string signaturePath;              // empty when the manifest was not signed
    std::string publishedAt;                // the signed manifest's "published_at"
    std::string manifestUrl;                // the address the launcher must be built with
    std::vector<std::string> replacedFiles; // earlier files of the same name with other contents
};

// A version as it may appear in a file name: letters, digits, '.', '_' and '-' kept, every other
// byte replaced by '_'. When anything was replaced (or the text was cut to a sane length) a short
// fingerprint of the original text is appended, so two versions never share a file name.
std::string fileNameSafeVersion(const std::string& version);
// "Orvanta-<version>.exe" and "orvanta-launcher-<version>", with fileNameSafeVersion applied.
std::string gameFileName(const std::string& version);
std::string launcherFileName(const std::string& version);

// Why a text cannot be a version (empty, surrounding white space, control characters); absent
// when it can. The launcher records the version trimmed, so surrounding white space would make
// every start download the game again.
std::optional<std::string> checkVersion(const std::string& version);

// The base URL without trailing slashes, or why it is unusable (not http/https, no host, a query,
// a fragment or white space in it).
struct BaseUrl {
    std::string url;
    std::string error;
};
BaseUrl normalizeBaseUrl(const std::string& baseUrl);

// baseUrl (already normalized) + "/orvanta-downloads/" + fileName.
std::string channelUrl(const std::string& baseUrl, const std::string& fileName);

// The changelog as it goes into the manifest: a leading byte-order mark removed, CR LF turned
// into LF, trailing white space removed. Absent with an error when the file cannot be read or is
// not UTF-8.
struct ChangelogText {
    std::string text;
    std::string error;
};
ChangelogText readChangelog(const std::string& path);

// Copies source into directory/fileName through a temporary file in the same folder (written,
// flushed to disk, then renamed), so a reader sees either the old file or the whole new one. An
// existing file with the same contents is left as it is. Returns the SHA-256 of the file as it
// lies in the folder afterwards, or an error.
struct PublishedFile {
    std::string sha256;
    std::string error;
    bool replaced = false; // a different file of that name was there before
};
PublishedFile publishFile(const std::string& source, const std::string& directory,
                          const std::string& fileName);

// Writes text to path atomically: a temporary file in the same folder, flushed to disk, renamed
// over path, and the folder flushed. Returns an error or the empty string.
std::string writeFileAtomically(const std::string& path, const std::string& text);

// The manifest document for the record, keys in the launcher's order, ending in a newline. The
// launcher keys are left out when the record announces no launcher build, and "published_at"
// when publishedAt is empty (an unsigned channel).
std::string manifestJson(const UpdateManifest& manifest, const std::string& publishedAt = {});

// A time as a signed manifest's "published_at": UTC, "YYYY-MM-DDTHH:MM:SSZ".
std::string publishedAtText(std::time_t time);

// Writes a new signing key pair into directory (created when missing): the private key readable
// by its owner only from the moment it exists, and the public key beside it. Existing key files
// are never replaced. The error is empty on success.
struct KeygenOutcome {
    std::string privateKeyPath;
    std::string publicKeyPath;
    std::string error;
};
KeygenOutcome writeSigningKeyPair(const std::string& directory);

// Publishes one build: validates the request, publishes the game (and launcher) files, writes the
// manifest last, then reads it back and checks it and the digests. The error is empty on success.
// With a signing key the signature file (the new manifest's line, then the lines of the manifest
// it replaces) is written just before the manifest, and both are checked as a launcher would.
struct PublishOutcome {
    PublishResult result;
    std::string error;
};
PublishOutcome publishBuild(const PublishRequest& request);

} // namespace orvanta::publish
