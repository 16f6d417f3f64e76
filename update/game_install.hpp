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
inline constexpr const char* alreadyRunningMessage = "The launcher is already running.";

// Brings the manifest's game into exePath + ".download", verifies it when the manifest has a
// digest (calling onVerifying first), makes it executable, flushes it and renames it over exePath,
// then writes the version record. Returns the empty string on success, else one of the messages
// above: alreadyRunningMessage when another launcher is writing the download file, which is then
// left alone.
// With chunk data (game_chunks_url) and a digest (game_sha256) the build is put together from the
// chunks already on the disk, in an earlier attempt's download and in the installed game, and the
// pack's missing chunks, and installed only when the whole file matches the digest; when the
// server's chunk data cannot make it, the whole build is downloaded. A download cut short is then
// kept for the next attempt to build on when game_size bounds it.
// Otherwise the whole build is downloaded into a new file (ending the transfer as soon as it
// exceeds a game_size given, and refusing a file of another length), which never outlives the
// call.
// Throws filesystem_error when a leftover temporary file cannot be removed for a reason other than
// being absent.
std::string installGameBuild(const UpdateManifest& manifest, const std::string& exePath,
                             const std::string& versionPath, const ProgressCallback& progress,
                             const std::function<void()>& onVerifying);

} // namespace orvanta
