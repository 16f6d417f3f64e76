#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvanta {

struct UpdateManifest {
    std::string game_version;
    std::string game_url;
    std::string game_sha256;
    std::string game_chunks_url;    // the build's chunk index, for updates that fetch changes only
    std::string game_chunks_sha256; // the chunk index file's SHA-256
    std::optional<std::uint64_t> game_size; // the build's length in bytes, when announced
    std::string launcher_version;
    std::string launcher_url;
    std::string launcher_sha256;
    std::optional<std::uint64_t> launcher_size; // the launcher build's length, when announced
    std::string changelog;
};

// The address the launcher checks, fixed when the program is built.
extern const std::string manifestUrl;

// Present exactly when text is a valid manifest; never throws.
std::optional<UpdateManifest> parseManifest(const std::string& text);

} // namespace orvanta
