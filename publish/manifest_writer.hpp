#pragma once

#include "update/manifest.hpp"

#include <ctime>
#include <optional>
#include <string>

namespace orvanta::publish {

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

// The manifest document for the record, keys in the launcher's order, ending in a newline. The
// chunk keys are left out when the record names no chunk index, the launcher keys when it
// announces no launcher build, and "channel", "published_at" and "expires_at" when they are
// empty (an unsigned channel, a signed one without expiry).
std::string manifestJson(const UpdateManifest& manifest, const std::string& publishedAt = {},
                         const std::string& channel = {}, const std::string& expiresAt = {});

// A time as a signed manifest's "published_at": UTC, "YYYY-MM-DDTHH:MM:SSZ".
std::string publishedAtText(std::time_t time);

} // namespace orvanta::publish
