#pragma once

// The channel's record of what each publication named, and the prune that removes the files
// no recent publication names. Files are named after their contents and never rewritten, so
// without a prune a channel only grows.
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta::publish {

// Beside the lock file; like it, a dot file, which the sample server configuration never serves.
inline constexpr const char* publicationRecordName = ".orvanta-published";
// The record keeps this many publications, the most a prune can keep.
inline constexpr unsigned maxRecordedPublications = 100;

// Adds a line naming fileNames to the record in channelDirectory, dropping the oldest lines
// beyond maxRecordedPublications; written atomically. Call it under the channel lock. Returns
// an error or the empty string.
std::string recordPublication(const std::string& channelDirectory,
                              const std::vector<std::string>& fileNames);

struct PruneRequest {
    std::string outDirectory;
    unsigned keep = 0; // the last this many publications keep their files (1 to the maximum)
};

struct PruneOutcome {
    std::vector<std::string> removed; // file names, sorted
    std::uint64_t removedBytes = 0;
    std::string error;
};

// Under the channel lock, removes the files orvanta-publish wrote (their names begin with
// "Orvanta-" or "orvanta-launcher-") that neither the last request.keep publications nor the
// live manifest name, with the pack the live chunk index names. Nothing is removed when the live
// manifest or its chunk index cannot be read.
PruneOutcome pruneChannel(const PruneRequest& request);

} // namespace orvanta::publish
