#include "publish/channel_prune.hpp"

#include "platform/posix/file_sync.hpp"
#include "platform/small_file.hpp"
#include "publish/channel_files.hpp"
#include "publish/channel_lock.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/manifest.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

// The file name an address ends in: its last path segment, without query or fragment.
std::string lastSegment(const std::string& url) {
    const std::string path = url.substr(0, url.find_first_of("?#"));
    return path.substr(path.rfind('/') + 1);
}

bool isPublishedFileName(const std::string& name) {
    return name.starts_with("Orvanta-") || name.starts_with("orvanta-launcher-");
}

// The names the live manifest needs: its files and the pack its chunk index names.
std::optional<std::set<std::string>> liveNames(const std::string& channel, std::string& error) {
    const std::string manifestPath = channel + "/" + manifestFileName;
    const std::optional<UpdateManifest> manifest =
        parseManifest(readWholeFile(manifestPath).value_or(std::string()));
    if (!manifest) {
        error = "cannot read the live manifest " + manifestPath + "; nothing was removed";
        return std::nullopt;
    }
    std::set<std::string> names;
    for (const std::string* url :
         {&manifest->game_url, &manifest->game_chunks_url, &manifest->launcher_url}) {
        if (!url->empty()) {
            names.insert(lastSegment(*url));
        }
    }
    if (!manifest->game_chunks_url.empty()) {
        const std::string indexPath = channel + "/" + lastSegment(manifest->game_chunks_url);
        const std::optional<ChunkIndex> index =
            parseChunkIndex(readWholeFile(indexPath).value_or(std::string()));
        if (!index) {
            error = "cannot read the live chunk index " + indexPath + "; nothing was removed";
            return std::nullopt;
        }
        names.insert(index->packName);
    }
    return names;
}

} // namespace

std::string recordPublication(const std::string& channelDirectory,
                              const std::vector<std::string>& fileNames) {
    const std::string path = channelDirectory + "/" + publicationRecordName;
    std::vector<std::string> record = nonEmptyLines(readWholeFile(path).value_or(std::string()));
    std::string line;
    for (const std::string& name : fileNames) {
        line += (line.empty() ? "" : " ") + name;
    }
    record.push_back(line);
    const std::size_t first =
        record.size() > maxRecordedPublications ? record.size() - maxRecordedPublications : 0;
    std::string text;
    for (std::size_t i = first; i < record.size(); ++i) {
        text += record[i] + "\n";
    }
    return writeFileAtomically(path, text);
}

PruneOutcome pruneChannel(const PruneRequest& request) {
    PruneOutcome outcome;
    if (request.keep < 1 || request.keep > maxRecordedPublications) {
        outcome.error =
            "--keep takes a number from 1 to " + std::to_string(maxRecordedPublications);
        return outcome;
    }
    const std::string channel = (fs::path(request.outDirectory) / channelFolderName).string();
    std::error_code ec;
    if (!fs::is_directory(channel, ec)) {
        outcome.error = "no channel in " + request.outDirectory + " (" + channel + " is missing)";
        return outcome;
    }
    ChannelLock lock;
    if (auto error = lock.acquire(channel); !error.empty()) {
        outcome.error = error;
        return outcome;
    }

    std::optional<std::set<std::string>> keep = liveNames(channel, outcome.error);
    if (!keep) {
        return outcome;
    }
    const std::vector<std::string> record =
        nonEmptyLines(readWholeFile(channel + "/" + publicationRecordName).value_or(std::string()));
    for (std::size_t i = record.size() > request.keep ? record.size() - request.keep : 0;
         i < record.size(); ++i) {
        std::istringstream names(record[i]);
        for (std::string name; names >> name;) {
            keep->insert(name);
        }
    }

    // Listed first: removing while iterating leaves what the iterator sees unspecified.
    std::vector<fs::path> doomed;
    for (fs::directory_iterator it(channel, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code statusError;
        if (isPublishedFileName(name) && !keep->contains(name) &&
            fs::is_regular_file(it->symlink_status(statusError))) {
            doomed.push_back(it->path());
        }
    }
    if (ec) {
        outcome.error = "cannot list " + channel + ": " + ec.message() + "; nothing was removed";
        return outcome;
    }
    for (const fs::path& path : doomed) {
        std::error_code sizeError;
        const std::uintmax_t size = fs::file_size(path, sizeError);
        if (!fs::remove(path, ec)) {
            outcome.error = "cannot remove " + path.string() + ": " + ec.message();
            break;
        }
        outcome.removed.push_back(path.filename().string());
        outcome.removedBytes += sizeError ? 0 : size;
    }
    flushDirectory(channel);
    std::sort(outcome.removed.begin(), outcome.removed.end());
    return outcome;
}

} // namespace orvanta::publish
