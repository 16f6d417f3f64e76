#pragma once

// Builds a new game build from its chunks: those already on the disk (in an earlier attempt's
// download, in the installed game) are taken from there, the others fetched from the build's pack
// with ranged GETs, decompressed and checked one by one.
#include "platform/http.hpp"
#include "platform/staged_file.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/manifest.hpp"

#include <optional>
#include <string>

namespace orvanta {

struct ChunkedBuild {
    ChunkIndex index;
    std::string packUrl;
};

// The index the manifest names, fetched (at most maxChunkIndexBytes), checked against its digest
// and parsed, with its pack's address; absent when the manifest names none, or on any fault. A
// manifest that announces the build's size must agree with the index.
std::optional<ChunkedBuild> fetchChunkedBuild(const UpdateManifest& manifest);

enum class AssemblyResult {
    assembled,      // download holds the whole build, every chunk checked against its digest
    fallback,       // the server's chunk data cannot build it: a whole download is the way left
    transferFailed, // the pack could not be fetched; what download holds is worth keeping
    failed          // a disk write failed; what download holds is kept for next time
};

// Brings download, open and holding whatever an earlier attempt left in it, to the whole build.
// The chunks that file already holds in order from its start stay; the rest is written after them
// from installedPath (the installed game, when there is one) and the pack. Progress reports the
// bytes of the build in place. Once assembled, buildSha256 holds the SHA-256 (hex) of the bytes
// written, taken as they were written so the file need not be read again.
AssemblyResult assembleBuild(const ChunkedBuild& build, const std::string& installedPath,
                             StagedFile& download, const ProgressCallback& progress,
                             std::string& buildSha256);

} // namespace orvanta
