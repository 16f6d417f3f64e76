// The chunk route's worker threads out of memory: whichever side fails, the caller gets a value
// or its own exception, never the end of the program. This program's operator new can be made to
// fail once, at any allocation of the threads chosen.
#include "update/chunk_install_fixture.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <optional>
#include <thread>

namespace orvanta {
namespace {

std::atomic<bool> armed{false};
std::atomic<bool> onArmingThread{true};
std::atomic<std::thread::id> armingThread;
std::atomic<long long> toGoThrough{0}; // allocations on the chosen threads before the one to fail
std::atomic<bool> failedOne{false};

void* allocate(std::size_t size) {
    if (armed.load(std::memory_order_acquire) &&
        (std::this_thread::get_id() == armingThread.load()) == onArmingThread.load() &&
        toGoThrough.fetch_sub(1) == 0) {
        failedOne = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

enum class On { thisThread, otherThreads };

// While it lives, allocation n (from 0) on the threads chosen throws std::bad_alloc.
class FailingAllocation {
  public:
    FailingAllocation(On threads, std::size_t n) {
        armingThread = std::this_thread::get_id();
        onArmingThread = threads == On::thisThread;
        toGoThrough = static_cast<long long>(n);
        failedOne = false;
        armed.store(true, std::memory_order_release);
    }
    ~FailingAllocation() { armed = false; }
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether allocation n came, and failed.
    bool failed() const { return failedOne; }
};

// Out of memory at any allocation, the cut on two threads ends soundly: the second thread's
// failure is an answer apart from "no chunks", the calling thread's is its exception once the
// second has ended, and a thread that cannot be had leaves one to do it all.
TEST(LocalChunks, AnAllocationFailingOnEitherThreadEndsTheCutSoundly) {
    test::TempDir dir;
    const std::string path = dir.file("Orvanta.exe");
    const std::string build = test::buildOf(1 << 20, 4);
    test::writeFile(path, build);
    const ChunkIndex index = *parseChunkIndex(test::chunkFilesOf(build).index);
    // Few chunks wanted, so few allocations to fail: the last ones, in the back half.
    const std::size_t first = index.chunks.size() - 8;
    const std::optional<LocalChunks> all = findLocalChunks(path, index, first, 1 << 19);
    ASSERT_TRUE(all && !all->empty());
    for (const On threads : {On::otherThreads, On::thisThread}) {
        for (std::size_t n = 0;; ++n) {
            std::optional<LocalChunks> found;
            bool threw = false;
            bool failed = false;
            {
                const FailingAllocation fault(threads, n);
                try {
                    found = findLocalChunks(path, index, first, 1 << 19);
                } catch (const std::bad_alloc&) {
                    threw = true;
                }
                failed = fault.failed();
            }
            SCOPED_TRACE(n);
            if (failed && threads == On::otherThreads) {
                EXPECT_FALSE(threw);
                EXPECT_FALSE(found);
                continue;
            }
            EXPECT_TRUE(threw ? !found : found && found->size() == all->size());
            if (!failed) {
                break;
            }
        }
    }
}

// A digest whose thread fails at its first block, as it would out of memory.
class FailingThreadSha256 : public BackgroundSha256 {
  public:
    FailingThreadSha256()
        : BackgroundSha256([](Sha256&, std::string_view) -> bool { throw std::bad_alloc(); }) {}
};

// Its thread failed, a digest never holds the writer, who hands over more than may wait, and
// gives none, asked for or left to the destructor.
TEST(BackgroundSha256, AFailedThreadNeverHoldsTheWriter) {
    const std::string block(1 << 20, 'x');
    for (const bool finish : {true, false}) {
        FailingThreadSha256 hash;
        for (int i = 0; i < 16; ++i) {
            hash.add(block);
        }
        if (finish) {
            EXPECT_EQ(hash.finishHex(), "");
        }
    }
}

// Out of memory at any allocation on the writer's side, the allocation throws and the digest
// stays usable: what it then gives is that of the bytes it took, or none; destroyed unfinished,
// it ends quietly.
TEST(BackgroundSha256, AnAllocationFailingOnTheWritersSideLeavesItSound) {
    // Pieces just over half a block, so each is handed over alone: enough of them for the queue
    // to take more memory too.
    const std::string whole = test::pseudoRandomBytes(12 << 20, 6);
    const std::size_t piece = (1 << 19) + 1;
    const std::size_t pieces = (whole.size() + piece - 1) / piece;
    for (const bool finish : {true, false}) {
        for (std::size_t n = 0;; ++n) {
            std::vector<bool> taken(pieces);
            std::string hex;
            bool failed = false;
            {
                const FailingAllocation fault(On::thisThread, n);
                try {
                    BackgroundSha256 hash;
                    for (std::size_t i = 0; i < pieces; ++i) {
                        try {
                            hash.add(std::string_view(whole).substr(i * piece, piece));
                            taken[i] = true;
                        } catch (const std::bad_alloc&) {
                        }
                    }
                    if (finish) {
                        hex = hash.finishHex();
                    }
                } catch (const std::bad_alloc&) {
                }
                failed = fault.failed();
            }
            SCOPED_TRACE(n);
            if (!hex.empty()) {
                std::string took;
                for (std::size_t i = 0; i < pieces; ++i) {
                    took += taken[i] ? whole.substr(i * piece, piece) : "";
                }
                EXPECT_EQ(hex, test::hexOf(took));
            }
            if (!failed) {
                EXPECT_EQ(hex.empty(), !finish);
                break;
            }
        }
    }
}

} // namespace
} // namespace orvanta

// Every form the program uses, so that what one allocates its match frees (the sanitizers check
// that they agree); the aligned forms are left to the library, which pairs them alike.
void* operator new(std::size_t size) {
    return orvanta::allocate(size);
}
void* operator new[](std::size_t size) {
    return orvanta::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return orvanta::allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    std::free(memory);
}
