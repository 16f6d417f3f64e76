#include "update/chunks/background_sha256.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

namespace orvanta {

namespace {

// Bytes go to the thread in blocks of this size, at most this many waiting: the lock is taken
// rarely and the memory stays small.
constexpr std::size_t blockBytes = 1 << 20;
constexpr std::size_t maxWaitingBlocks = 4;

} // namespace

BackgroundSha256::BackgroundSha256()
    : BackgroundSha256([](Sha256& hash, std::string_view bytes) { return hash.update(bytes); }) {}

BackgroundSha256::BackgroundSha256(Update update) : update_(update) {
    try {
        thread_ = std::thread([this] { work(); });
    } catch (const std::exception&) {
        // No thread to be had (none left, or no memory for its state): hashed on the caller's.
    }
}

BackgroundSha256::~BackgroundSha256() {
    if (!thread_.joinable()) {
        return;
    }
    // Nobody wants the digest any more: what waits is dropped, and the thread, woken, ends.
    {
        const std::lock_guard lock(mutex_);
        waiting_.clear();
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::span<char> BackgroundSha256::claim(std::size_t size) {
    if (block_.capacity - block_.used < size) {
        if (block_.used > 0) {
            hand(std::exchange(block_, {}));
        }
        if (block_.capacity < size) {
            // Counted only once allocated, so a claim that throws leaves the block as it was.
            const std::size_t capacity = std::max(blockBytes, size);
            block_.bytes = std::make_unique_for_overwrite<char[]>(capacity);
            block_.capacity = capacity;
        }
    }
    const std::span<char> room(block_.bytes.get() + block_.used, size);
    block_.used += size;
    return room;
}

void BackgroundSha256::add(std::string_view bytes) {
    std::memcpy(claim(bytes.size()).data(), bytes.data(), bytes.size());
}

void BackgroundSha256::hand(Block block) {
    if (!thread_.joinable()) {
        good_ = update_(hash_, std::string_view(block.bytes.get(), block.used)) && good_;
        block.used = 0;
        block_ = std::move(block);
        return;
    }
    std::unique_lock lock(mutex_);
    // A thread that failed takes nothing more: the writer must not wait for it.
    changed_.wait(lock, [this] { return waiting_.size() < maxWaitingBlocks || !good_; });
    if (!good_) {
        block.used = 0;
        block_ = std::move(block);
        return;
    }
    try {
        waiting_.push_back(std::move(block));
    } catch (...) {
        // The block's bytes never reach the digest.
        good_ = false;
        throw;
    }
    // A block already hashed is filled next, sparing the allocator fresh pages each time.
    if (!spare_.empty()) {
        block_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void BackgroundSha256::work() {
    try {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !waiting_.empty() || closing_; });
            if (waiting_.empty()) {
                return;
            }
            Block block = std::move(waiting_.front());
            waiting_.pop_front();
            changed_.notify_all();
            lock.unlock();
            const bool hashed = update_(hash_, std::string_view(block.bytes.get(), block.used));
            lock.lock();
            good_ = hashed && good_;
            block.used = 0;
            spare_.push_back(std::move(block));
        }
    } catch (...) {
        // Out of memory, say: the digest is lost and what waits is dropped; a writer waiting for
        // room is woken to hear it rather than wait on a thread that has ended.
        const std::lock_guard lock(mutex_);
        good_ = false;
        waiting_.clear();
        changed_.notify_all();
    }
}

std::string BackgroundSha256::finishHex() {
    if (block_.used > 0) {
        hand(std::exchange(block_, {}));
    }
    if (thread_.joinable()) {
        {
            const std::lock_guard lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    const std::optional<Sha256Digest> digest = hash_.finish();
    return good_ && digest ? digestHex(*digest) : std::string();
}

} // namespace orvanta
