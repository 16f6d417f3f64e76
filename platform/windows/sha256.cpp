#include "platform/sha256.hpp"

#include "platform/file_digest.hpp"
#include "platform/windows/win32.hpp"

#include <algorithm>
#include <mutex>
#include <wincrypt.h>

namespace orvanta {

namespace {

// One provider for the process: acquiring one costs far more than hashing a chunk, and a build
// is checked chunk by chunk. Never released; the process's end frees it. A failed acquisition is
// not kept: the next digest tries again, so one bad moment does not fail the whole session.
HCRYPTPROV provider() {
    // Locked: digests are made on worker threads too.
    static std::mutex guard;
    static HCRYPTPROV handle = 0;
    const std::lock_guard lock(guard);
    if (handle == 0) {
        HCRYPTPROV acquired = 0;
        if (CryptAcquireContextA(&acquired, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
            handle = acquired;
        }
    }
    return handle;
}

} // namespace

struct Sha256::State {
    HCRYPTHASH hash = 0;
    bool good = false;

    State() {
        const HCRYPTPROV source = provider();
        good = source != 0 && CryptCreateHash(source, CALG_SHA_256, 0, 0, &hash);
        if (!good) {
            hash = 0;
        }
    }
    ~State() {
        if (hash != 0) {
            CryptDestroyHash(hash);
        }
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

bool Sha256::update(std::string_view data) {
    // CryptHashData takes at most a DWORD's worth at a time.
    constexpr std::size_t piece = 1u << 30;
    for (std::size_t at = 0; state_->good && at < data.size(); at += piece) {
        const auto count = static_cast<DWORD>(std::min(piece, data.size() - at));
        state_->good =
            CryptHashData(state_->hash, reinterpret_cast<const BYTE*>(data.data() + at), count, 0);
    }
    return state_->good;
}

std::optional<Sha256Digest> Sha256::finish() {
    Sha256Digest digest{};
    DWORD digestLength = static_cast<DWORD>(digest.size());
    const bool made =
        state_->good &&
        CryptGetHashParam(state_->hash, HP_HASHVAL, digest.data(), &digestLength, 0) &&
        digestLength == digest.size();
    state_->good = false;
    return made ? std::optional(digest) : std::nullopt;
}

std::string sha256File(const std::string& path) {
    const std::wstring widePath = widen(path);
    if (widePath.empty()) {
        return {};
    }
    // Only a regular file has a digest; shared so a running game can still be read.
    Handle file{CreateFileW(
        widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!file.valid() || GetFileType(file.handle) != FILE_TYPE_DISK) {
        return {};
    }
    return sha256OfHandle(file.handle);
}

std::string sha256OfHandle(void* file) {
    return sha256OfFile([file](std::uint64_t offset, char* data, std::size_t size) {
        return readAtOffset(file, offset, data, size);
    });
}

std::optional<Sha256Digest> sha256Bytes(std::string_view data) {
    Sha256 hash;
    hash.update(data);
    return hash.finish();
}

} // namespace orvanta
