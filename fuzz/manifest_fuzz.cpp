// Manifest parsing: any bytes from the server must give a record or nothing, never an exception,
// and the answer must be the one an independent strict reader of JSON gives (json_oracle.hpp,
// which shares no code with the JSON library parseManifest uses): a record exactly when that
// reader finds a manifest, holding exactly the strings it finds.
#include "json_oracle.hpp"
#include "update/manifest.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// In the order of json_oracle::manifestKeys, a size in decimal or empty when absent.
json_oracle::ManifestFields fields(const orvanta::UpdateManifest& m) {
    const auto size = [](const std::optional<std::uint64_t>& bytes) {
        return bytes ? std::to_string(*bytes) : std::string();
    };
    return {m.game_version,       m.game_url,         m.game_sha256,        m.game_chunks_url,
            m.game_chunks_sha256, m.launcher_version, m.launcher_url,       m.launcher_sha256,
            m.changelog,          size(m.game_size),  size(m.launcher_size)};
}

// Both readers give the same answer about text; the record parseManifest gives, if any.
std::optional<orvanta::UpdateManifest> parseBoth(const std::string& text) {
    const std::optional<orvanta::UpdateManifest> parsed = orvanta::parseManifest(text);
    const std::optional<json_oracle::ManifestFields> expected = json_oracle::readManifest(text);
    require(parsed.has_value() == expected.has_value());
    require(!parsed || fields(*parsed) == *expected);
    return parsed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<orvanta::UpdateManifest> parsed = parseBoth(text);
    if (!parsed) {
        return 0;
    }
    require(!parsed->game_version.empty());
    require(!parsed->game_url.empty());

    // Writing the record back out gives a document that both read as the same record.
    nlohmann::json rebuilt = nlohmann::json::object();
    const json_oracle::ManifestFields before = fields(*parsed);
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (i < json_oracle::firstSizeKey || !before[i].empty()) {
            rebuilt[std::string(json_oracle::manifestKeys[i])] = before[i];
        }
    }
    const std::optional<orvanta::UpdateManifest> again = parseBoth(rebuilt.dump());
    require(again.has_value() && fields(*again) == before);
    return 0;
}
