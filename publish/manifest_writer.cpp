#include "publish/manifest_writer.hpp"

#include "publish/channel_files.hpp"
#include "update/versions.hpp"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace orvanta::publish {

namespace {

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t minimum = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1Fu;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0Fu;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07u;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > n) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool startsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::optional<std::string> checkVersion(const std::string& version) {
    if (version.empty()) {
        return "must not be empty";
    }
    if (isAsciiSpace(version.front()) || isAsciiSpace(version.back())) {
        return "must not begin or end with white space";
    }
    for (char c : version) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return "must not contain control characters";
        }
    }
    if (!isValidUtf8(version)) {
        return "must be UTF-8 text";
    }
    return std::nullopt;
}

BaseUrl normalizeBaseUrl(const std::string& baseUrl) {
    std::string scheme;
    if (startsWithIgnoreCase(baseUrl, "https://")) {
        scheme = "https://";
    } else if (startsWithIgnoreCase(baseUrl, "http://")) {
        scheme = "http://";
    } else {
        return {{}, "base URL must start with http:// or https://: " + baseUrl};
    }
    for (char c : baseUrl) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            return {{},
                    "base URL must not contain white space, control or non-ASCII characters "
                    "(percent-encode them): " +
                        baseUrl};
        }
        if (c == '?' || c == '#') {
            return {{}, "base URL must not contain a query or fragment: " + baseUrl};
        }
    }
    std::string url = baseUrl;
    while (url.size() > scheme.size() && url.back() == '/') {
        url.pop_back();
    }
    const std::string rest = url.substr(scheme.size());
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::string host =
        authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    if (host.empty() || host.front() == ':') {
        return {{}, "base URL has no host: " + baseUrl};
    }
    return {url, {}};
}

std::string channelUrl(const std::string& baseUrl, const std::string& fileName) {
    return baseUrl + "/" + channelFolderName + "/" + fileName;
}

ChangelogText readChangelog(const std::string& path) {
    const std::string problem = checkSourceFile("changelog file", path);
    // An empty changelog file is allowed: it simply means no changelog.
    if (!problem.empty() && problem.rfind("changelog file is empty", 0) != 0) {
        return {{}, problem};
    }
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return {{}, "cannot read changelog file " + path};
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
    }
    if (!isValidUtf8(text)) {
        return {{}, "changelog file is not UTF-8 text: " + path};
    }
    std::string normalized;
    normalized.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        normalized += text[i];
    }
    while (!normalized.empty() && isAsciiSpace(normalized.back())) {
        normalized.pop_back();
    }
    return {normalized, {}};
}

std::string manifestJson(const UpdateManifest& manifest, const std::string& publishedAt,
                         const std::string& channel, const std::string& expiresAt) {
    nlohmann::ordered_json document;
    document["game_version"] = manifest.game_version;
    document["game_url"] = manifest.game_url;
    document["game_sha256"] = manifest.game_sha256;
    if (manifest.game_size) {
        document["game_size"] = std::to_string(*manifest.game_size);
    }
    if (!manifest.game_chunks_url.empty()) {
        document["game_chunks_url"] = manifest.game_chunks_url;
        document["game_chunks_sha256"] = manifest.game_chunks_sha256;
    }
    // Without a launcher build the launcher keys are left out; they read as empty.
    if (!manifest.launcher_url.empty()) {
        document["launcher_version"] = manifest.launcher_version;
        document["launcher_url"] = manifest.launcher_url;
        document["launcher_sha256"] = manifest.launcher_sha256;
        if (manifest.launcher_size) {
            document["launcher_size"] = std::to_string(*manifest.launcher_size);
        }
    }
    document["changelog"] = manifest.changelog;
    if (!channel.empty()) {
        document["channel"] = channel;
    }
    if (!publishedAt.empty()) {
        document["published_at"] = publishedAt;
    }
    if (!expiresAt.empty()) {
        document["expires_at"] = expiresAt;
    }
    // Every text was checked to be UTF-8, so dump cannot fail; replace keeps it from throwing
    // even so.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string publishedAtText(std::time_t time) {
    std::tm utc{};
    char text[32] = {};
    if (::gmtime_r(&time, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return {};
    }
    return text;
}

} // namespace orvanta::publish
