#include "update/chunks/chunk_index.hpp"

#include "platform/sha256.hpp"
#include "update/chunks/chunker.hpp"

#include <algorithm>

namespace orvanta {

namespace {

constexpr std::string_view magic = "ORVCHUNK";
constexpr std::size_t maxPackNameBytes = 255;

void putLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// Reads fixed-width little-endian integers front to back; any read past the end leaves it failed.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::uint64_t take(std::size_t width) {
        if (failed_ || bytes_.size() - position_ < width) {
            failed_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value |= std::uint64_t{static_cast<unsigned char>(bytes_[position_ + i])} << (8 * i);
        }
        position_ += width;
        return value;
    }
    std::string_view takeBytes(std::size_t count) {
        if (failed_ || bytes_.size() - position_ < count) {
            failed_ = true;
            return {};
        }
        const std::string_view taken = bytes_.substr(position_, count);
        position_ += count;
        return taken;
    }
    bool failed() const { return failed_; }
    std::size_t remaining() const { return bytes_.size() - position_; }

  private:
    std::string_view bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

// Lengths are written less one in two bytes.
static_assert(chunkMaxSize <= 0x10000);

bool validEntry(const ChunkEntry& entry, bool last) {
    if (entry.length == 0 || entry.length > chunkMaxSize) {
        return false;
    }
    // Only a build's last chunk can end before the chunker looks for a boundary.
    if (!last && entry.length <= chunkMinSize) {
        return false;
    }
    // Equal lengths mean raw bytes; a frame no smaller than the chunk is never written.
    return entry.storedLength > 0 && entry.storedLength <= entry.length;
}

} // namespace

std::optional<ChunkDigest> chunkDigestOf(std::string_view bytes) {
    const std::optional<Sha256Digest> full = sha256Bytes(bytes);
    if (!full) {
        return std::nullopt;
    }
    ChunkDigest digest;
    std::copy_n(full->begin(), digest.size(), digest.begin());
    return digest;
}

bool isChunkPackName(std::string_view name) {
    if (name.empty() || name.size() > maxPackNameBytes || name.front() == '.') {
        return false;
    }
    for (const char c : name) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!safe) {
            return false;
        }
    }
    return true;
}

std::string serializeChunkIndex(const ChunkIndex& index) {
    std::string out;
    out.reserve(chunkIndexHeaderBytes + index.packName.size() +
                index.chunks.size() * chunkIndexEntryBytes);
    out += magic;
    putLittleEndian(out, chunkIndexVersion, 4);
    putLittleEndian(out, chunkMinSize, 4);
    putLittleEndian(out, chunkAverageSize, 4);
    putLittleEndian(out, chunkMaxSize, 4);
    putLittleEndian(out, index.buildSize, 8);
    putLittleEndian(out, index.chunks.size(), 4);
    putLittleEndian(out, index.packName.size(), 2);
    out += index.packName;
    for (const ChunkEntry& entry : index.chunks) {
        putLittleEndian(out, entry.length - 1u, 2);
        putLittleEndian(out, entry.storedLength - 1u, 2);
        out.append(reinterpret_cast<const char*>(entry.digest.data()), entry.digest.size());
    }
    return out;
}

std::optional<ChunkIndex> parseChunkIndex(std::string_view bytes) {
    if (bytes.size() > maxChunkIndexBytes) {
        return std::nullopt;
    }
    Reader reader(bytes);
    if (reader.takeBytes(magic.size()) != magic || reader.take(4) != chunkIndexVersion ||
        reader.take(4) != chunkMinSize || reader.take(4) != chunkAverageSize ||
        reader.take(4) != chunkMaxSize) {
        return std::nullopt;
    }
    ChunkIndex index;
    index.buildSize = reader.take(8);
    const std::uint64_t count = reader.take(4);
    const std::size_t nameLength = static_cast<std::size_t>(reader.take(2));
    index.packName = std::string(reader.takeBytes(nameLength));
    // The entries must fill the rest exactly: nothing cut short, nothing after them.
    if (reader.failed() || !isChunkPackName(index.packName) ||
        reader.remaining() / chunkIndexEntryBytes != count ||
        reader.remaining() % chunkIndexEntryBytes != 0) {
        return std::nullopt;
    }
    index.chunks.reserve(static_cast<std::size_t>(count));
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        ChunkEntry entry;
        entry.length = static_cast<std::uint32_t>(reader.take(2) + 1);
        entry.storedLength = static_cast<std::uint32_t>(reader.take(2) + 1);
        const std::string_view digest = reader.takeBytes(entry.digest.size());
        std::copy(digest.begin(), digest.end(), entry.digest.begin());
        // Lengths are at most the maximum chunk size and the count is bounded by the size cap,
        // so the sums cannot wrap; the build size comparison catches any disagreement.
        if (!validEntry(entry, i + 1 == count) || total > index.buildSize) {
            return std::nullopt;
        }
        total += entry.length;
        index.chunks.push_back(entry);
    }
    if (reader.failed() || reader.remaining() != 0 || total != index.buildSize) {
        return std::nullopt;
    }
    return index;
}

std::vector<std::uint64_t> chunkPackOffsets(const ChunkIndex& index) {
    std::vector<std::uint64_t> offsets;
    offsets.reserve(index.chunks.size() + 1);
    std::uint64_t offset = 0;
    offsets.push_back(offset);
    for (const ChunkEntry& entry : index.chunks) {
        offset += entry.storedLength;
        offsets.push_back(offset);
    }
    return offsets;
}

} // namespace orvanta
