// Manifest parsing: any bytes from the server must give a record or nothing, never an exception,
// and a record must say exactly what the document says.
#include "update/manifest.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::array<std::pair<const char*, const std::string*>, 7> fields(const orvanta::UpdateManifest& m) {
    return {{{"game_version", &m.game_version},
             {"game_url", &m.game_url},
             {"game_sha256", &m.game_sha256},
             {"launcher_version", &m.launcher_version},
             {"launcher_url", &m.launcher_url},
             {"launcher_sha256", &m.launcher_sha256},
             {"changelog", &m.changelog}}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<orvanta::UpdateManifest> parsed = orvanta::parseManifest(text);
    if (!parsed) {
        return 0;
    }

    require(!parsed->game_version.empty());
    require(!parsed->game_url.empty());

    // The document was well-formed JSON with an object on top, and every field is what the
    // document holds under its key (missing keys read as empty).
    require(nlohmann::json::accept(text));
    const nlohmann::json document = nlohmann::json::parse(text);
    require(document.is_object());
    for (const auto& [key, value] : fields(*parsed)) {
        const auto found = document.find(key);
        if (found == document.end()) {
            require(value->empty());
        } else {
            require(found->is_string());
            require(found->get<std::string>() == *value);
        }
    }

    // Writing the record back out gives a document that parses to the same record.
    nlohmann::json rebuilt = nlohmann::json::object();
    for (const auto& [key, value] : fields(*parsed)) {
        rebuilt[key] = *value;
    }
    const std::optional<orvanta::UpdateManifest> again = orvanta::parseManifest(rebuilt.dump());
    require(again.has_value());
    const auto before = fields(*parsed);
    const auto after = fields(*again);
    for (std::size_t i = 0; i < before.size(); ++i) {
        require(*before[i].second == *after[i].second);
    }
    return 0;
}
