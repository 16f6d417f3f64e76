#include "update/manifest.hpp"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

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

// Watches the parse for a name given twice in one object, at any depth. Names are compared after
// their escapes are decoded, so "a" and "\u0061" are the same name. Each object open at the
// moment holds one set of the names seen in it so far, and the set goes when the object closes,
// so what is kept grows with the text and no faster.
class DuplicateNames {
  public:
    bool found() const { return found_; }

    bool operator()(int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (event == Event::object_start) {
            open_.emplace_back();
        } else if (event == Event::object_end) {
            open_.pop_back();
        } else if (event == Event::key && !open_.back().insert(parsed.get<std::string>()).second) {
            found_ = true;
        }
        return true; // keep everything: the verdict is read once the parse is over
    }

  private:
    std::vector<std::set<std::string>> open_;
    bool found_ = false;
};

// A present size must be a string of decimal digits (no sign, no spaces) within 64 bits.
bool readSize(const nlohmann::json& document, const char* key, std::optional<std::uint64_t>& size) {
    size.reset();
    const auto it = document.find(key);
    if (it == document.end()) {
        return true;
    }
    if (!it->is_string()) {
        return false;
    }
    const std::string text = it->get<std::string>();
    if (text.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

} // namespace

std::optional<UpdateManifest> parseManifest(const std::string& text) {
    // The JSON library reads a NUL byte as the end of the input and would ignore whatever
    // follows it. No valid document holds one (inside a string it must be written \u0000).
    if (text.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    try {
        DuplicateNames duplicates;
        const nlohmann::json document =
            nlohmann::json::parse(text, std::ref(duplicates), /*allow_exceptions=*/false);
        if (document.is_discarded() || duplicates.found() || !document.is_object()) {
            return std::nullopt;
        }
        UpdateManifest manifest;
        const bool valid = readField(document, "game_version", manifest.game_version) &&
                           readField(document, "game_url", manifest.game_url) &&
                           readField(document, "game_sha256", manifest.game_sha256) &&
                           readField(document, "game_chunks_url", manifest.game_chunks_url) &&
                           readField(document, "game_chunks_sha256", manifest.game_chunks_sha256) &&
                           readField(document, "launcher_version", manifest.launcher_version) &&
                           readField(document, "launcher_url", manifest.launcher_url) &&
                           readField(document, "launcher_sha256", manifest.launcher_sha256) &&
                           readField(document, "changelog", manifest.changelog) &&
                           readSize(document, "game_size", manifest.game_size) &&
                           readSize(document, "launcher_size", manifest.launcher_size);
        if (!valid || manifest.game_version.empty() || manifest.game_url.empty()) {
            return std::nullopt;
        }
        return manifest;
    } catch (...) {
        // Malformed text is a discarded value above; exhausted memory lands here.
        return std::nullopt;
    }
}

} // namespace orvanta
