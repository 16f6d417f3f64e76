#include "update/signed_manifest.hpp"

#include "platform/http.hpp"
#include "platform/signature.hpp"
#include "update/install.hpp"

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace orvanta {

namespace {

constexpr char base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// Strict base64: whole groups of four, padding only at the end, unused bits zero, so each
// signature has exactly one spelling.
std::optional<std::string> decodeBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    std::string bytes;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (std::size_t i = 0; i < text.size() - padding; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            bytes += static_cast<char>((bits >> bitCount) & 0xFFu);
        }
    }
    if ((bits & ((1u << bitCount) - 1u)) != 0) {
        return std::nullopt;
    }
    return bytes;
}

bool isDigits(const std::string& text, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

int number(const std::string& text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool signatureMatches(const std::string& data, const std::vector<std::string>& signatures,
                      const std::vector<std::string>& publicKeys) {
    for (const std::string& signature : signatures) {
        for (const std::string& key : publicKeys) {
            if (verifySignature(data, signature, key)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

std::string encodeSignatureLine(const std::string& signature) {
    std::string line;
    std::uint32_t bits = 0;
    int bitCount = 0;
    for (char c : signature) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        bitCount += 8;
        while (bitCount >= 6) {
            bitCount -= 6;
            line += base64Alphabet[(bits >> bitCount) & 0x3Fu];
        }
    }
    if (bitCount > 0) {
        line += base64Alphabet[(bits << (6 - bitCount)) & 0x3Fu];
    }
    while (line.size() % 4 != 0) {
        line += '=';
    }
    return line;
}

std::optional<std::vector<std::string>> parseSignatureFile(const std::string& text) {
    if (text.empty() || text.size() > maxSignatureFileBytes) {
        return std::nullopt;
    }
    std::vector<std::string> signatures;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r' && end != text.size()) {
            line.pop_back();
        }
        const std::optional<std::string> signature = decodeBase64(line);
        if (!signature || signature->size() != signatureSize) {
            return std::nullopt;
        }
        signatures.push_back(*signature);
        start = next;
    }
    return signatures;
}

bool isPublishedAt(const std::string& text) {
    // 0123456789...
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z' || !isDigits(text, 0, 4) ||
        !isDigits(text, 5, 2) || !isDigits(text, 8, 2) || !isDigits(text, 11, 2) ||
        !isDigits(text, 14, 2) || !isDigits(text, 17, 2)) {
        return false;
    }
    const int year = number(text, 0, 4);
    const int month = number(text, 5, 2);
    const int day = number(text, 8, 2);
    if (month < 1 || month > 12 || day < 1) {
        return false;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    constexpr std::array<int, 12> monthDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int lastDay = month == 2 && leap ? 29 : monthDays[static_cast<std::size_t>(month - 1)];
    // A leap second (:60) is valid RFC 3339.
    return day <= lastDay && number(text, 11, 2) <= 23 && number(text, 14, 2) <= 59 &&
           number(text, 17, 2) <= 60;
}

namespace {

// The string under key at the top of the manifest; empty when missing or not a string.
std::string manifestString(const std::string& manifestText, const char* key) {
    try {
        const nlohmann::json document =
            nlohmann::json::parse(manifestText, nullptr, /*allow_exceptions=*/false);
        if (!document.is_object()) {
            return {};
        }
        const auto it = document.find(key);
        if (it == document.end() || !it->is_string()) {
            return {};
        }
        return it->get<std::string>();
    } catch (...) {
        return {};
    }
}

} // namespace

std::string manifestPublishedAt(const std::string& manifestText) {
    return manifestString(manifestText, "published_at");
}

std::string manifestChannel(const std::string& manifestText) {
    return manifestString(manifestText, "channel");
}

bool manifestUnexpired(const std::string& manifestText, const std::string& now) {
    try {
        const nlohmann::json document =
            nlohmann::json::parse(manifestText, nullptr, /*allow_exceptions=*/false);
        if (!document.is_object()) {
            return false;
        }
        const auto it = document.find("expires_at");
        if (it == document.end()) {
            return true;
        }
        return it->is_string() && isPublishedAt(it->get<std::string>()) &&
               now <= it->get<std::string>();
    } catch (...) {
        return false;
    }
}

std::optional<std::chrono::sys_seconds> publishedAtTime(const std::string& text) {
    using namespace std::chrono;
    if (!isPublishedAt(text)) {
        return std::nullopt;
    }
    const year_month_day date{year{number(text, 0, 4)},
                              month{static_cast<unsigned>(number(text, 5, 2))},
                              day{static_cast<unsigned>(number(text, 8, 2))}};
    return sys_days{date} + hours{number(text, 11, 2)} + minutes{number(text, 14, 2)} +
           seconds{number(text, 17, 2)};
}

std::string formatPublishedAt(std::chrono::sys_seconds time) {
    using namespace std::chrono;
    const sys_days midnight = floor<days>(time);
    const year_month_day date{midnight};
    const hh_mm_ss<seconds> clock{time - midnight};
    char text[48] = {};
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string publishedAtNow() {
    using namespace std::chrono;
    return formatPublishedAt(floor<seconds>(system_clock::now()));
}

bool acceptSignedManifest(const std::string& manifestAddress, const std::string& channel,
                          const std::string& manifestText, const UpdateManifest& manifest,
                          const std::vector<std::string>& publicKeys, const std::string& recordPath,
                          bool* signatureMismatch) {
    if (signatureMismatch != nullptr) {
        *signatureMismatch = false;
    }
    const std::optional<HttpResponse> response =
        fetchRevalidated(manifestAddress + signatureSuffix);
    if (!response || response->statusCode < 200 || response->statusCode > 299) {
        return false;
    }
    const std::optional<std::vector<std::string>> signatures = parseSignatureFile(response->body);
    if (!signatures || !signatureMatches(manifestText, *signatures, publicKeys)) {
        if (signatureMismatch != nullptr) {
            *signatureMismatch = true;
        }
        return false;
    }
    // A manifest signed for another channel of the same studio must not be served in its place.
    if (manifestChannel(manifestText) != channel) {
        return false;
    }
    const std::string now = publishedAtNow();
    // A manifest past its expiry may be a stale copy kept from the player on purpose.
    if (!manifestUnexpired(manifestText, now)) {
        return false;
    }
    // A signed build is always verified after its download.
    if (manifest.game_sha256.empty()) {
        return false;
    }
    const std::string publishedAt = manifestPublishedAt(manifestText);
    if (!isPublishedAt(publishedAt)) {
        return false;
    }
    const std::string recorded = readTrimmedFile(recordPath);
    const bool clockReadable = isPublishedAt(now);
    // A record ahead of the clock came from a manifest dated in the future; holding it would
    // refuse every honest release until that date.
    const std::string accepted =
        clockReadable && isPublishedAt(recorded) && recorded > now ? now : recorded;
    if (isPublishedAt(accepted) && publishedAt < accepted) {
        return false; // an older signed manifest served again
    }
    const std::string record = clockReadable && publishedAt > now ? now : publishedAt;
    if (record != recorded) {
        // Not being able to raise the record only weakens the next check; this one stands.
        static_cast<void>(writeTextFile(recordPath, record));
    }
    return true;
}

} // namespace orvanta
