#include "update/update_check.hpp"

#include "platform/paths.hpp"
#include "platform/sha256.hpp"
#include "update/versions.hpp"

#include <filesystem>

namespace orvanta {

bool gameNeedsUpdate(const std::string& exePath, const std::string& installedVersion,
                     const UpdateManifest& manifest) {
    if (!std::filesystem::exists(nativePath(exePath))) {
        return true;
    }
    if (!equalsIgnoreCase(installedVersion, manifest.game_version)) {
        return true;
    }
    if (manifest.game_sha256.empty()) {
        return false;
    }
    const std::string digest = sha256File(exePath);
    if (digest.empty()) {
        // A locked or unreadable game must not force a download.
        return false;
    }
    return !equalsIgnoreCase(digest, manifest.game_sha256);
}

} // namespace orvanta
