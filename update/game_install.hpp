#pragma once

#include "platform/http.hpp"
#include "update/manifest.hpp"

#include <functional>
#include <string>

namespace orvanta {

inline constexpr const char* downloadFailedMessage =
    "Download failed. Check your internet connection.";
inline constexpr const char* verificationFailedMessage = "Download verification failed.";
inline constexpr const char* installFailedMessage = "Could not install the update.";

// Downloads the manifest's game into exePath + ".download" (ending the transfer as soon as it
// exceeds a game_size given, and refusing a file of another length), verifies it when the
// manifest has a digest (calling onVerifying first), makes it executable, flushes it and renames it
// over exePath, then writes the version record. Returns the empty string on success, else one of
// the three messages above; the temporary file never outlives the call. Throws filesystem_error
// when a leftover temporary file cannot be removed for a reason other than being absent.
std::string installGameBuild(const UpdateManifest& manifest, const std::string& exePath,
                             const std::string& versionPath, const ProgressCallback& progress,
                             const std::function<void()>& onVerifying);

} // namespace orvanta
