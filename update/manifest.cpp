#include "update/manifest.hpp"

#include <nlohmann/json.hpp>

namespace orvanta {

const std::string manifestUrl = ORVANTA_MANIFEST_URL;

namespace {

// A missing key reads as empty; a present key must hold a string.
bool readField(const nlohmann::json& document, const char* key, std::string& field) {
    const auto it = document.find(key);
    if (it == document.end()) {
        field.clear();
        return true;
    }
    if (!it->is_string()) {
        return false;
    }
    field = it->get<std::string>();
    return true;
}

} // namespace

std::optional<UpdateManifest> parseManifest(const std::string& text) {
    try {
        const nlohmann::json document = nlohmann::json::parse(text);
        if (!document.is_object()) {
            return std::nullopt;
        }
        UpdateManifest manifest;
        const bool valid = readField(document, "game_version", manifest.game_version) &&
                           readField(document, "game_url", manifest.game_url) &&
                           readField(document, "game_sha256", manifest.game_sha256) &&
                           readField(document, "launcher_version", manifest.launcher_version) &&
                           readField(document, "launcher_url", manifest.launcher_url) &&
                           readField(document, "launcher_sha256", manifest.launcher_sha256) &&
                           readField(document, "changelog", manifest.changelog);
        if (!valid || manifest.game_version.empty() || manifest.game_url.empty()) {
            return std::nullopt;
        }
        return manifest;
    } catch (...) {
        // Malformed text, bad UTF-8 or exhausted memory: all of it means "not a manifest".
        return std::nullopt;
    }
}

} // namespace orvanta
