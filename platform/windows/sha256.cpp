#include "platform/sha256.hpp"

#include "platform/windows/win32.hpp"

#include <algorithm>
#include <array>
#include <vector>
#include <wincrypt.h>

namespace orvanta {

namespace {

constexpr DWORD readBufferSize = 8192;

struct Provider {
    HCRYPTPROV handle = 0;
    ~Provider() {
        if (handle != 0) {
            CryptReleaseContext(handle, 0);
        }
    }
};

struct Hash {
    HCRYPTHASH handle = 0;
    ~Hash() {
        if (handle != 0) {
            CryptDestroyHash(handle);
        }
    }
};

} // namespace

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
    Provider provider;
    if (!CryptAcquireContextA(&provider.handle, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
        provider.handle = 0;
        return {};
    }
    Hash hash; // destroyed before the provider is released
    if (!CryptCreateHash(provider.handle, CALG_SHA_256, 0, 0, &hash.handle)) {
        hash.handle = 0;
        return {};
    }
    std::array<BYTE, readBufferSize> buffer{};
    ULONGLONG offset = 0;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32u);
        DWORD count = 0;
        if (!ReadFile(file, buffer.data(), readBufferSize, &count, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            // A read error is a failure, not an early end: a digest of part of the file would
            // be reported as the file's own.
            return {};
        }
        if (count == 0) {
            break;
        }
        if (!CryptHashData(hash.handle, buffer.data(), count, 0)) {
            return {};
        }
        offset += count;
    }
    DWORD size = 0;
    DWORD sizeLength = sizeof size;
    if (!CryptGetHashParam(hash.handle, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size), &sizeLength,
                           0) ||
        size == 0) {
        return {};
    }
    std::vector<BYTE> digest(size, 0);
    DWORD digestLength = size;
    if (!CryptGetHashParam(hash.handle, HP_HASHVAL, digest.data(), &digestLength, 0)) {
        return {};
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digestLength * 2u);
    for (DWORD i = 0; i < digestLength; ++i) {
        text += hexDigits[digest[i] >> 4u];
        text += hexDigits[digest[i] & 0x0Fu];
    }
    return text;
}

std::optional<Sha256Digest> sha256Bytes(std::string_view data) {
    Provider provider;
    if (!CryptAcquireContextA(&provider.handle, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT)) {
        provider.handle = 0;
        return std::nullopt;
    }
    Hash hash; // destroyed before the provider is released
    if (!CryptCreateHash(provider.handle, CALG_SHA_256, 0, 0, &hash.handle)) {
        hash.handle = 0;
        return std::nullopt;
    }
    // CryptHashData takes at most a DWORD's worth at a time.
    constexpr std::size_t piece = 1u << 30;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto count = static_cast<DWORD>(std::min(piece, data.size() - at));
        if (!CryptHashData(hash.handle, reinterpret_cast<const BYTE*>(data.data() + at), count,
                           0)) {
            return std::nullopt;
        }
    }
    Sha256Digest digest{};
    DWORD digestLength = static_cast<DWORD>(digest.size());
    if (!CryptGetHashParam(hash.handle, HP_HASHVAL, digest.data(), &digestLength, 0) ||
        digestLength != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

} // namespace orvanta
