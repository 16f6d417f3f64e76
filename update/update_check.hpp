#pragma once

#include "update/manifest.hpp"

#include <string>

namespace orvanta {

// Whether the game at exePath must be downloaded again to match the manifest. An executable whose
// digest cannot be computed counts as current. Throws std::filesystem::filesystem_error when the
// existence test itself fails (other than for a missing file).
bool gameNeedsUpdate(const std::string& exePath, const std::string& installedVersion,
                     const UpdateManifest& manifest);

} // namespace orvanta
