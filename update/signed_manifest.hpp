#pragma once

#include "update/manifest.hpp"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// A signed channel serves the manifest's detached signatures at the manifest's address + ".sig".
inline constexpr const char* signatureSuffix = ".sig";
// The signature file: lines of base64 (RFC 4648, "+/" alphabet, "=" padding, canonical) each
// encoding one 64-byte signature, so 88 characters; each line ends in LF or CR LF (the last may
// end without); no empty lines, no other bytes. A larger file is refused unread.
inline constexpr std::size_t maxSignatureFileBytes = 4096;
// Beside the version record: the newest "published_at" this install folder has accepted.
inline constexpr const char* publishedAtFileName = "published_at.txt";

// The public keys (PEM) compiled into the launcher; empty when it was built without any, and
// then manifests are not checked for signatures at all.
extern const std::vector<std::string> manifestPublicKeys;

// One signature as a line of the signature file, without its line ending.
std::string encodeSignatureLine(const std::string& signature);
// The raw signatures of a signature file in order; absent when the file breaks any rule above.
std::optional<std::vector<std::string>> parseSignatureFile(const std::string& text);

// Whether text is a publication time as the publishing tool writes it: RFC 3339 in UTC to the
// second, "YYYY-MM-DDTHH:MM:SSZ". Such texts order correctly as plain byte strings.
bool isPublishedAt(const std::string& text);
// The manifest's "published_at" string; empty when it is missing or not a string.
std::string manifestPublishedAt(const std::string& manifestText);
// The manifest's "channel" string, the address it is meant to be served at; empty when it is
// missing or not a string.
std::string manifestChannel(const std::string& manifestText);
// A publication time as a point in time; absent unless isPublishedAt(text).
std::optional<std::chrono::sys_seconds> publishedAtTime(const std::string& text);
// A point in time as a publication time text (UTC, "YYYY-MM-DDTHH:MM:SSZ").
std::string formatPublishedAt(std::chrono::sys_seconds time);
// This machine's clock as a publication time text.
std::string publishedAtNow();

// Whether a signed manifest is still valid at now: it has no "expires_at", or one that is a
// publication time no earlier than now. Anything else under that key is refused.
bool manifestUnexpired(const std::string& manifestText, const std::string& now);

// Whether a launcher carrying publicKeys may use manifest, parsed from manifestText as fetched from
// manifestAddress: one line of the signature file verifies with one of the keys, the manifest's
// channel is exactly channel (the address the launcher was built with), it has not expired,
// game_sha256 is set, and
// published_at is no older than the one recorded at recordPath (a missing or damaged
// record accepts any; one later than this machine's clock counts as now). An accepted newer
// published_at replaces the record, but never with a time later than the clock, so a manifest
// dated in the future cannot hold back the releases after it.
// When signatureMismatch is given, it tells whether a refusal came from a signature file that
// arrived but verifies no line for this manifest (a cache may hold the two at different ages).
bool acceptSignedManifest(const std::string& manifestAddress, const std::string& channel,
                          const std::string& manifestText, const UpdateManifest& manifest,
                          const std::vector<std::string>& publicKeys, const std::string& recordPath,
                          bool* signatureMismatch = nullptr);

} // namespace orvanta
