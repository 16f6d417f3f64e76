#include "update/chunks/background_sha256.hpp"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

namespace orvanta {

namespace {

// Bytes go to the thread in blocks of this size, at most this many waiting: the lock is taken
// rarely and the memory stays small.
constexpr std::size_t blockBytes = 1 << 20;
constexpr std::size_t maxWaitingBlocks = 4;

} // namespace

BackgroundSha256::BackgroundSha256() {
    try {
        thread_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
        // Hashed on the caller's thread instead.
    }
}

BackgroundSha256::~BackgroundSha256() {
    finishHex();
}

std::span<char> BackgroundSha256::claim(std::size_t size) {
    if (block_.capacity - block_.used < size) {
        if (block_.used > 0) {
            hand(std::exchange(block_, {}));
        }
        if (block_.capacity < size) {
            block_.capacity = std::max(blockBytes, size);
            block_.bytes = std::make_unique_for_overwrite<char[]>(block_.capacity);
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
        good_ = hash_.update(std::string_view(block.bytes.get(), block.used)) && good_;
        block.used = 0;
        block_ = std::move(block);
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.size() < maxWaitingBlocks; });
    waiting_.push_back(std::move(block));
    // A block already hashed is filled next, sparing the allocator fresh pages each time.
    if (!spare_.empty()) {
        block_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void BackgroundSha256::work() {
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
        const bool hashed = hash_.update(std::string_view(block.bytes.get(), block.used));
        lock.lock();
        good_ = hashed && good_;
        block.used = 0;
        spare_.push_back(std::move(block));
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
