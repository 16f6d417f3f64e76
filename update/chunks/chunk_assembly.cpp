#include "update/chunks/chunk_assembly.hpp"

#include "platform/file_reader.hpp"
#include "platform/http_ranges.hpp"
#include "platform/sha256.hpp"
#include "platform/url.hpp"
#include "update/chunks/background_sha256.hpp"
#include "update/chunks/local_chunks.hpp"
#include "update/versions.hpp"

#include <memory>
#include <utility>
#include <vector>
#include <zstd.h>

namespace orvanta {

namespace {

struct FreeDecompressor {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// The index's bytes, or none once they pass the cap or the transfer fails.
std::optional<std::string> fetchIndexBytes(const std::string& url) {
    std::string bytes;
    const DownloadSink sink{[] { return true; },
                            [&](const char* data, std::size_t size) {
                                if (size > maxChunkIndexBytes - bytes.size()) {
                                    return false;
                                }
                                bytes.append(data, size);
                                return true;
                            }};
    if (!downloadToSink(url, sink, {})) {
        return std::nullopt;
    }
    return bytes;
}

// Neighbouring chunks copied from the installed game are read and written up to this much at a
// time: fewer calls, and still little to copy again should the attempt be cut off.
constexpr std::uint64_t maxCopyBytes = 1 << 20;

// The chunks from first on that follow each other in the installed game from offset on as they
// do in the build (an unchanged stretch of it), up to maxCopyBytes: where they end, and their
// length. None when the first chunk's length is not the index's.
std::pair<std::size_t, std::uint64_t> localRun(const ChunkIndex& index, const LocalChunks& local,
                                               std::size_t first, std::uint64_t offset) {
    std::size_t end = first;
    std::uint64_t length = 0;
    for (; end < index.chunks.size(); ++end) {
        const ChunkEntry& entry = index.chunks[end];
        const auto place = local.find(entry.digest);
        if (place == local.end() || place->second.offset != offset + length ||
            place->second.length != entry.length ||
            (end > first && length + entry.length > maxCopyBytes)) {
            break;
        }
        length += entry.length;
    }
    return {end, length};
}

// Writes the build's chunks in order into the download file, counting what is in place.
class Assembler {
  public:
    Assembler(const ChunkedBuild& build, StagedFile& download, const ProgressCallback& progress)
        : index_(build.index), download_(download), progress_(progress),
          decompressor_(ZSTD_createDCtx()) {}

    // Keeps the chunks an earlier attempt left in the file, in order from its start, and cuts it
    // after the last of them.
    bool keepEarlierChunks() {
        std::string bytes;
        for (; next_ < index_.chunks.size(); ++next_) {
            const ChunkEntry& entry = index_.chunks[next_];
            bytes.resize(entry.length);
            const auto got = download_.readAt(inPlace_, bytes.data(), bytes.size());
            if (!got || *got != bytes.size() || chunkDigestOf(bytes) != entry.digest) {
                break;
            }
            build_.add(bytes);
            inPlace_ += entry.length;
        }
        report();
        return download_.truncate(inPlace_);
    }

    std::size_t next() const { return next_; }
    bool done() const { return next_ == index_.chunks.size(); }
    const ChunkEntry& nextEntry() const { return index_.chunks[next_]; }

    // The next chunks, which lie side by side from offset in a file on the disk where the
    // chunker found them, read in one piece of length bytes; their digests are checked with the
    // whole build's. A false return ends the assembly.
    bool readNext(const FileReader& source, std::uint64_t offset, std::size_t length,
                  std::size_t chunks) {
        plain_ = build_.claim(length);
        plainChunks_ = chunks;
        const auto got = source.readAt(offset, plain_.data(), plain_.size());
        return got && *got == plain_.size();
    }

    bool writeNext() {
        if (!download_.write(plain_.data(), plain_.size())) {
            writeFailed_ = true;
            return false;
        }
        inPlace_ += plain_.size();
        next_ += plainChunks_;
        report();
        return true;
    }

    // Where the chunks the pack does not have to bring lie: the installed game, open as source.
    void takeLocalChunksFrom(const LocalChunks& local, const FileReader& source) {
        local_ = &local;
        source_ = &source;
    }

    // Copies the chunks from the next on that the local source holds, up to the next one it
    // does not. False once the source no longer holds what it did when it was cut (then
    // sourceChanged() says so) or a write fails.
    bool copyLocalChunks() {
        while (local_ != nullptr && !done()) {
            const auto place = local_->find(nextEntry().digest);
            if (place == local_->end()) {
                return true;
            }
            const auto [end, length] = localRun(index_, *local_, next_, place->second.offset);
            if (end == next_ || !readNext(*source_, place->second.offset,
                                          static_cast<std::size_t>(length), end - next_)) {
                sourceChanged_ = true;
                return false;
            }
            if (!writeNext()) {
                return false;
            }
        }
        return true;
    }

    // Takes pack bytes of the chunks the local source lacks, in order, and copies the local
    // chunks that follow each of them; false once a chunk is bad (then badChunk() says so), the
    // source changed or a write fails.
    bool takePackBytes(const char* data, std::size_t size) {
        while (size > 0 && !done()) {
            const ChunkEntry& entry = nextEntry();
            const std::size_t wanted =
                std::min<std::size_t>(entry.storedLength - stored_.size(), size);
            stored_.append(data, wanted);
            data += wanted;
            size -= wanted;
            if (stored_.size() < entry.storedLength) {
                break;
            }
            if (!unpack(entry)) {
                badChunk_ = true;
                return false;
            }
            stored_.clear();
            if (!writeNext() || !copyLocalChunks()) {
                return false;
            }
        }
        // Bytes past the last chunk are not in the pack the index describes.
        return size == 0;
    }

    bool badChunk() const { return badChunk_; }
    bool sourceChanged() const { return sourceChanged_; }
    bool writeFailed() const { return writeFailed_; }

    // The SHA-256 of the bytes in place, as hex; empty when it could not be made.
    std::string buildSha256() { return build_.finishHex(); }

  private:
    // Decompresses the stored chunk into plain_, never past its declared length, and checks it.
    // A false return ends the assembly.
    bool unpack(const ChunkEntry& entry) {
        plain_ = build_.claim(entry.length);
        plainChunks_ = 1;
        if (entry.storedRaw()) {
            std::copy(stored_.begin(), stored_.end(), plain_.begin());
        } else {
            if (!decompressor_) {
                return false;
            }
            const std::size_t size = ZSTD_decompressDCtx(
                decompressor_.get(), plain_.data(), plain_.size(), stored_.data(), stored_.size());
            if (ZSTD_isError(size) || size != entry.length) {
                return false;
            }
        }
        return chunkDigestOf(std::string_view(plain_.data(), plain_.size())) == entry.digest;
    }

    void report() {
        if (progress_) {
            progress_(inPlace_, index_.buildSize);
        }
    }

    const ChunkIndex& index_;
    StagedFile& download_;
    const ProgressCallback& progress_;
    std::unique_ptr<ZSTD_DCtx, FreeDecompressor> decompressor_;
    std::size_t next_ = 0;      // the first chunk not yet in place
    std::uint64_t inPlace_ = 0; // bytes of the build written
    std::string stored_;        // the next chunk's pack bytes received so far
    // Of every byte in place, in order; chunks are read and decompressed straight into it, and
    // any that fails ends the assembly, so nothing but the build's bytes is hashed when it ends.
    BackgroundSha256 build_;
    std::span<char> plain_;       // the next chunks' bytes, in build_'s room
    std::size_t plainChunks_ = 0; // how many chunks plain_ holds
    bool badChunk_ = false;
    const LocalChunks* local_ = nullptr;
    const FileReader* source_ = nullptr;
    bool sourceChanged_ = false;
    bool writeFailed_ = false;
};

// The runs of chunks from first on that local does not hold, each as the range of the pack that
// stores it.
std::vector<ByteRange> missingPackRanges(const ChunkIndex& index, const LocalChunks& local,
                                         std::size_t first) {
    const std::vector<std::uint64_t> packOffsets = chunkPackOffsets(index);
    const std::size_t count = index.chunks.size();
    std::vector<ByteRange> ranges;
    for (std::size_t start = first; start < count;) {
        if (local.contains(index.chunks[start].digest)) {
            ++start;
            continue;
        }
        std::size_t end = start + 1;
        while (end < count && !local.contains(index.chunks[end].digest)) {
            ++end;
        }
        ranges.push_back(ByteRange{packOffsets[start], packOffsets[end] - 1});
        start = end;
    }
    return ranges;
}

AssemblyResult assemble(Assembler& assembler, const ChunkedBuild& build,
                        const std::string& installedPath) {
    if (!assembler.keepEarlierChunks()) {
        return AssemblyResult::failed;
    }
    if (assembler.done()) {
        return AssemblyResult::assembled;
    }
    const std::optional<LocalChunks> found =
        findLocalChunks(installedPath, build.index, assembler.next());
    if (!found) {
        return AssemblyResult::failed;
    }
    const LocalChunks& local = *found;
    FileReader installed;
    if (!local.empty() && !installed.open(installedPath)) {
        return AssemblyResult::fallback;
    }
    assembler.takeLocalChunksFrom(local, installed);
    // Every missing run in as few requests as the server allows; the local chunks between them
    // are copied as the pack's bytes arrive, so the file is written in order.
    const std::vector<ByteRange> missing = missingPackRanges(build.index, local, assembler.next());
    RangeResult result = RangeResult::fetched;
    if (!assembler.copyLocalChunks()) {
        result = RangeResult::failed;
    } else if (!missing.empty()) {
        RangeFetcher fetcher;
        result =
            fetcher.fetchRanges(build.packUrl, missing, [&](const char* data, std::size_t size) {
                return assembler.takePackBytes(data, size);
            });
    }
    // A game that changed since it was cut is no source; a disk that fails to take the chunks
    // fails the update.
    if (result == RangeResult::refused || assembler.badChunk() || assembler.sourceChanged()) {
        return AssemblyResult::fallback;
    }
    if (result == RangeResult::failed) {
        return assembler.writeFailed() ? AssemblyResult::failed : AssemblyResult::transferFailed;
    }
    return assembler.done() ? AssemblyResult::assembled : AssemblyResult::fallback;
}

} // namespace

std::optional<ChunkedBuild> fetchChunkedBuild(const UpdateManifest& manifest) {
    if (manifest.game_chunks_url.empty() || manifest.game_chunks_sha256.empty()) {
        return std::nullopt;
    }
    const std::optional<Url> address = parseUrl(manifest.game_chunks_url);
    const std::optional<std::string> bytes =
        address ? fetchIndexBytes(manifest.game_chunks_url) : std::nullopt;
    const std::optional<Sha256Digest> digest = bytes ? sha256Bytes(*bytes) : std::nullopt;
    if (!digest || !equalsIgnoreCase(digestHex(*digest), manifest.game_chunks_sha256)) {
        return std::nullopt;
    }
    std::optional<ChunkIndex> index = parseChunkIndex(*bytes);
    if (!index || (manifest.game_size && *manifest.game_size != index->buildSize)) {
        return std::nullopt;
    }
    // The pack lies beside the index; its name is a plain file name, checked by the parser.
    std::optional<std::string> packUrl = resolveLocation(*address, index->packName);
    if (!packUrl) {
        return std::nullopt;
    }
    return ChunkedBuild{std::move(*index), std::move(*packUrl)};
}

AssemblyResult assembleBuild(const ChunkedBuild& build, const std::string& installedPath,
                             StagedFile& download, const ProgressCallback& progress,
                             std::string& buildSha256) {
    Assembler assembler(build, download, progress);
    const AssemblyResult result = assemble(assembler, build, installedPath);
    if (result == AssemblyResult::assembled) {
        buildSha256 = assembler.buildSha256();
    }
    return result;
}

} // namespace orvanta
