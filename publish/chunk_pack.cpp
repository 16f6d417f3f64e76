#include "publish/chunk_pack.hpp"

#include "platform/posix/file_sync.hpp"
#include "platform/sha256.hpp"
#include "publish/channel_files.hpp"
#include "update/chunks/chunk_index.hpp"
#include "update/chunks/chunker.hpp"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <zstd.h>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t readBlockSize = 1 << 20;

struct FreeCompressor {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct FreeDecompressor {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// Reads up to size bytes; fewer only at the end of the file.
std::string readSome(std::ifstream& in, std::size_t size) {
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// Compresses chunks one by one into the pack and collects their index entries.
class PackWriter {
  public:
    PackWriter(int fd, ZSTD_CCtx* context) : fd_(fd), context_(context) {}
    PackWriter(const PackWriter&) = delete;
    PackWriter& operator=(const PackWriter&) = delete;

    bool add(std::string_view chunk) {
        const std::optional<ChunkDigest> digest = chunkDigestOf(chunk);
        if (!digest) {
            return false;
        }
        ChunkEntry entry;
        entry.length = static_cast<std::uint32_t>(chunk.size());
        entry.digest = *digest;
        frame_.resize(ZSTD_compressBound(chunk.size()));
        const std::size_t size =
            ZSTD_compressCCtx(context_, frame_.data(), frame_.size(), chunk.data(), chunk.size(),
                              chunkCompressionLevel);
        // A frame no smaller than the chunk is not worth it: the chunk goes in raw.
        std::string_view stored = chunk;
        if (!ZSTD_isError(size) && size < chunk.size()) {
            stored = std::string_view(frame_.data(), size);
        }
        entry.storedLength = static_cast<std::uint32_t>(stored.size());
        if (!writeAll(fd_, stored.data(), stored.size()) || !digest_.update(stored)) {
            return false;
        }
        packBytes_ += stored.size();
        entries_.push_back(entry);
        return true;
    }
    std::vector<ChunkEntry>& entries() { return entries_; }
    std::uint64_t packBytes() const { return packBytes_; }
    // The digest of everything written; absent when it could not be made.
    std::optional<Sha256Digest> finishDigest() { return digest_.finish(); }

  private:
    int fd_;
    ZSTD_CCtx* context_;
    std::string frame_;
    Sha256 digest_;
    std::vector<ChunkEntry> entries_;
    std::uint64_t packBytes_ = 0;
};

// Moves a finished temporary file with the given digest into place unless the same contents are
// already there.
std::string placeFile(TemporaryFile& file, const std::string& target, const std::string& sha256) {
    std::error_code ec;
    if (fs::is_regular_file(target, ec) && sha256File(target) == sha256) {
        return {};
    }
    if (const int code = file.renameTo(target); code != 0) {
        return "cannot write " + target + ": " + systemError(code);
    }
    return {};
}

} // namespace

ChunkFiles publishChunkFiles(const std::string& gamePath, const std::string& directory,
                             const std::string& version) {
    ChunkFiles result;
    auto fail = [&result](std::string error) {
        result.error = std::move(error);
        return result;
    };
    const std::string stem = gameFileStem(version);
    std::ifstream game(gamePath, std::ios::binary);
    if (!game) {
        return fail("cannot read " + gamePath);
    }
    const std::unique_ptr<ZSTD_CCtx, FreeCompressor> context(ZSTD_createCCtx());
    TemporaryFile pack(directory, stem + chunkPackExtension);
    if (!context || !pack.valid()) {
        return fail("cannot write to output folder " + directory + ": " +
                    systemError(pack.valid() ? ENOMEM : pack.error()));
    }

    // Only the chunk being cut and the block being read are held: the chunker reports a chunk
    // once its last byte has been fed, so everything before it can go.
    PackWriter writer(pack.fd(), context.get());
    Chunker chunker;
    std::vector<Chunk> cuts;
    std::string pending;
    std::uint64_t pendingStart = 0;
    const std::string writeError = "cannot write " + pack.path();
    for (;;) {
        const std::string block = readSome(game, readBlockSize);
        if (game.bad()) {
            return fail("cannot read " + gamePath);
        }
        if (block.empty()) {
            break;
        }
        pending += block;
        cuts.clear();
        chunker.feed({reinterpret_cast<const unsigned char*>(block.data()), block.size()}, cuts);
        std::size_t consumed = 0;
        for (const Chunk& cut : cuts) {
            consumed = static_cast<std::size_t>(cut.offset - pendingStart) + cut.length;
            if (!writer.add(std::string_view(pending).substr(consumed - cut.length, cut.length))) {
                return fail(writeError);
            }
        }
        pending.erase(0, consumed);
        pendingStart += consumed;
    }
    if (chunker.finish() && !writer.add(pending)) {
        return fail(writeError);
    }
    if (const int code = pack.finish(); code != 0) {
        return fail(writeError + ": " + systemError(code));
    }
    const std::optional<Sha256Digest> packDigest = writer.finishDigest();
    if (!packDigest) {
        return fail("cannot compute the digest of " + pack.path());
    }
    const std::string packSha256 = digestHex(*packDigest);
    result.packName = digestFileName(stem, packSha256, chunkPackExtension);

    ChunkIndex index;
    index.packName = result.packName;
    index.chunks = std::move(writer.entries());
    for (const ChunkEntry& entry : index.chunks) {
        index.buildSize += entry.length;
    }
    const std::string indexBytes = serializeChunkIndex(index);
    if (indexBytes.size() > maxChunkIndexBytes) {
        return fail(gamePath + " is too large to be cut into chunks; publish with --no-chunks");
    }

    const std::optional<Sha256Digest> indexDigest = sha256Bytes(indexBytes);
    if (!indexDigest) {
        return fail("cannot compute the digest of the chunk index of " + gamePath);
    }
    result.indexSha256 = digestHex(*indexDigest);
    result.indexName = digestFileName(stem, result.indexSha256, chunkIndexExtension);

    // The pack goes first, so an index in place never names chunks that are not there.
    if (auto error = placeFile(pack, directory + "/" + result.packName, packSha256);
        !error.empty()) {
        return fail(error);
    }
    const std::string indexPath = directory + "/" + result.indexName;
    if (readWholeFile(indexPath) != indexBytes) {
        if (auto error = writeFileAtomically(indexPath, indexBytes); !error.empty()) {
            return fail(error);
        }
    }
    flushDirectory(directory);
    result.packBytes = writer.packBytes();
    result.chunkCount = index.chunks.size();
    return result;
}

std::string checkChunkFiles(const std::string& gamePath, const std::string& directory,
                            const std::string& indexName) {
    const std::string indexPath = directory + "/" + indexName;
    const std::optional<ChunkIndex> index =
        parseChunkIndex(readWholeFile(indexPath).value_or(std::string()));
    if (!index) {
        return "the chunk index " + indexPath + " cannot be read back";
    }
    const std::string packPath = directory + "/" + index->packName;
    std::ifstream pack(packPath, std::ios::binary);
    std::ifstream game(gamePath, std::ios::binary);
    const std::unique_ptr<ZSTD_DCtx, FreeDecompressor> context(ZSTD_createDCtx());
    if (!pack || !game || !context) {
        return "cannot read back " + packPath;
    }
    const std::string mismatch =
        "the chunk files " + indexPath + " and " + packPath + " do not rebuild " + gamePath;
    std::string chunk;
    for (const ChunkEntry& entry : index->chunks) {
        const std::string stored = readSome(pack, entry.storedLength);
        if (stored.size() != entry.storedLength) {
            return mismatch;
        }
        if (!entry.storedRaw()) {
            chunk.resize(entry.length);
            const std::size_t size = ZSTD_decompressDCtx(context.get(), chunk.data(), chunk.size(),
                                                         stored.data(), stored.size());
            if (ZSTD_isError(size) || size != entry.length) {
                return mismatch;
            }
        } else {
            chunk = stored;
        }
        if (chunkDigestOf(chunk) != entry.digest || readSome(game, chunk.size()) != chunk) {
            return mismatch;
        }
    }
    // Both files must end where the index says.
    if (pack.peek() != std::ifstream::traits_type::eof() ||
        game.peek() != std::ifstream::traits_type::eof()) {
        return mismatch;
    }
    return {};
}

} // namespace orvanta::publish
