#include "update/chunks/local_chunks.hpp"

#include "platform/file_reader.hpp"
#include "update/chunks/chunker.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

namespace orvanta {

namespace {

constexpr std::size_t readBlockBytes = 1 << 20;

struct Wanted {
    std::unordered_set<ChunkDigest, DigestHash> digests;
    std::unordered_set<std::uint32_t> lengths;
};

// Cuts a file with the chunker from a chosen offset on and notes where the wanted chunks lie.
// Started anywhere but at a chunk boundary, it cuts differently at first; content-defined cuts
// fall back in step with the file's own within a few chunks, and a wanted digest is a valid
// source wherever it is found.
class Scan {
  public:
    Scan(const Wanted& wanted, std::uint64_t from) : wanted_(wanted), next_(from), start_(from) {}

    // Cuts until the end of the file, a read error, or a cut after which stop(cut's end) is true.
    void run(const std::string& path, const std::function<bool(std::uint64_t)>& stop) {
        FileReader file;
        if (!file.open(path)) {
            return;
        }
        std::vector<Chunk> cuts;
        for (;;) {
            // Read behind the bytes still pending, so each byte is copied once.
            char* const block = pending_.get() + pendingBytes_;
            const std::optional<std::size_t> got = file.readAt(next_, block, readBlockBytes);
            if (!got || *got == 0) {
                break;
            }
            next_ += *got;
            pendingBytes_ += *got;
            cuts.clear();
            chunker_.feed(std::span(reinterpret_cast<const unsigned char*>(block), *got), cuts);
            for (const Chunk& cut : cuts) {
                keep(cut);
                if (stop(start_ + cut.offset + cut.length)) {
                    return;
                }
            }
            drop();
        }
        if (const std::optional<Chunk> last = chunker_.finish()) {
            keep(*last);
        }
    }

    LocalChunks found;
    std::vector<std::uint64_t> ends; // where each cut ends, in order

  private:
    void keep(const Chunk& cut) {
        const std::uint64_t offset = start_ + cut.offset;
        ends.push_back(offset + cut.length);
        used_ = static_cast<std::size_t>(cut.offset - pendingStart_) + cut.length;
        if (!wanted_.lengths.contains(cut.length)) {
            return;
        }
        const std::string_view bytes(
            pending_.get() + static_cast<std::size_t>(cut.offset - pendingStart_), cut.length);
        const std::optional<ChunkDigest> digest = chunkDigestOf(bytes);
        if (digest && wanted_.digests.contains(*digest)) {
            found.try_emplace(*digest, ChunkPlace{offset, cut.length});
        }
    }
    // pending_ holds the bytes from the start of the chunk being cut on: less than a chunk once
    // the cut chunks are dropped, so a block always fits behind them.
    void drop() {
        std::memmove(pending_.get(), pending_.get() + used_, pendingBytes_ - used_);
        pendingBytes_ -= used_;
        pendingStart_ += used_;
        used_ = 0;
    }

    const Wanted& wanted_;
    Chunker chunker_;
    std::uint64_t next_;  // the next byte of the file to read
    std::uint64_t start_; // where the chunker's stream starts in the file
    std::unique_ptr<char[]> pending_ =
        std::make_unique_for_overwrite<char[]>(chunkMaxSize + readBlockBytes);
    std::size_t pendingBytes_ = 0;
    std::uint64_t pendingStart_ = 0; // pending_'s first byte, in the chunker's stream
    std::size_t used_ = 0;           // bytes of pending_ in chunks already cut
};

// The back half's scan, on a thread of its own. Whichever way the caller leaves, the thread is
// told to stop and joined, and whatever it throws stays on it as a failure: neither side's
// exception can end the program.
class BackScan {
  public:
    BackScan(const Wanted& wanted, std::uint64_t from) : scan(wanted, from) {}
    ~BackScan() {
        if (thread_.joinable()) {
            stopping_.store(true, std::memory_order_relaxed);
            thread_.join();
        }
    }
    BackScan(const BackScan&) = delete;
    BackScan& operator=(const BackScan&) = delete;

    // False when no thread is to be had (none left, or no memory for its state).
    bool start(const std::string& path) {
        try {
            thread_ = std::thread([this, &path] { run(path); });
        } catch (const std::exception&) {
            return false;
        }
        return true;
    }

    // Waits for the scan to end; false when it failed. Called again, it only says so.
    bool finish() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return !failed_;
    }

    Scan scan; // read once finished

  private:
    void run(const std::string& path) {
        try {
            // Asked after every cut, so the destructor's stop is heeded within a chunk.
            scan.run(path,
                     [this](std::uint64_t) { return stopping_.load(std::memory_order_relaxed); });
        } catch (...) {
            failed_ = true;
        }
    }

    std::atomic<bool> stopping_{false};
    bool failed_ = false; // read after the join
    std::thread thread_;
};

} // namespace

std::size_t DigestHash::operator()(const ChunkDigest& digest) const {
    // A digest's bytes are already evenly spread.
    std::size_t value = 0;
    std::memcpy(&value, digest.data(), std::min(sizeof value, digest.size()));
    return value;
}

std::optional<LocalChunks> findLocalChunks(const std::string& path, const ChunkIndex& index,
                                           std::size_t first, std::uint64_t splitBytes) {
    Wanted wanted;
    for (std::size_t i = first; i < index.chunks.size(); ++i) {
        wanted.digests.insert(index.chunks[i].digest);
        wanted.lengths.insert(index.chunks[i].length);
    }
    FileReader file;
    const std::optional<std::uint64_t> size =
        !wanted.digests.empty() && file.open(path) ? file.size() : std::nullopt;
    if (!size) {
        return LocalChunks();
    }
    const auto never = [](std::uint64_t) { return false; };
    Scan front(wanted, 0);
    if (*size < splitBytes) {
        front.run(path, never);
        return std::move(front.found);
    }
    // Two threads: the back half from its middle on, the front half up to where its cuts meet
    // the back half's, past which both would cut alike.
    const std::uint64_t middle = *size / 2;
    BackScan back(wanted, middle);
    if (!back.start(path)) {
        // No thread to be had: one does it all.
        front.run(path, never);
        return std::move(front.found);
    }
    front.run(path, [&](std::uint64_t end) {
        if (end < middle) {
            return false;
        }
        // Without the back half there is nothing to meet: the front stops, the result is lost.
        return !back.finish() ||
               std::binary_search(back.scan.ends.begin(), back.scan.ends.end(), end);
    });
    if (!back.finish()) {
        return std::nullopt;
    }
    front.found.merge(back.scan.found);
    return std::move(front.found);
}

} // namespace orvanta
