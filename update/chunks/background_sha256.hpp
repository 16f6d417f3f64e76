#pragma once

#include "platform/sha256.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

namespace orvanta {

// SHA-256 of bytes handed over in order, worked out on a thread of its own so that the caller's
// reads and writes go on meanwhile. Without a thread to be had it hashes on the caller's. A thread
// that fails (out of memory, say) never holds the writer, and finishHex() then gives nothing.
// Destroyed unfinished, it drops what waits and joins the thread.
class BackgroundSha256 {
  public:
    BackgroundSha256();
    ~BackgroundSha256();
    BackgroundSha256(const BackgroundSha256&) = delete;
    BackgroundSha256& operator=(const BackgroundSha256&) = delete;

    // Room for the next size bytes of the stream: the caller fills it before the next call, so
    // bytes read from a file can be hashed without another copy.
    std::span<char> claim(std::size_t size);
    void add(std::string_view bytes);
    // The digest of everything claimed and added, as hex, once; empty when it could not be made.
    std::string finishHex();

  protected:
    // How the thread adds a block to the digest: Sha256::update, unless a test makes it throw.
    using Update = bool (*)(Sha256& hash, std::string_view bytes);
    explicit BackgroundSha256(Update update);

  private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };

    void hand(Block block);
    void work();

    Update update_;
    Sha256 hash_; // used by the thread alone while it runs
    Block block_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> waiting_;
    std::deque<Block> spare_; // blocks hashed, to be filled again
    bool closing_ = false;
    bool good_ = true; // false once the digest is lost: blocks are no longer handed over
    std::thread thread_;
};

} // namespace orvanta
