#include "platform/sha256.hpp"

#include "platform/posix/file_descriptor.hpp"
#include "platform/posix/openssl_handles.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

namespace {

constexpr std::size_t readBufferSize = 8192;

} // namespace

std::string sha256File(const std::string& path) {
    // O_NONBLOCK: a FIFO or device in the file's place must not hold the caller; only a regular
    // file has a digest.
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return sha256OfDescriptor(file.fd);
}

std::string sha256OfDescriptor(int fd) {
    openssl::DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    std::array<unsigned char, readBufferSize> buffer{};
    off_t offset = 0;
    for (;;) {
        // Positioned reads: the whole file from its start, wherever the descriptor stands.
        const ssize_t count = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (count == 0) {
            break;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A read error is a failure, not an early end: a digest of part of the file would
            // be reported as the file's own.
            return {};
        }
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1) {
            return {};
        }
        offset += count;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestLength = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &digestLength) != 1) {
        return {};
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digestLength * 2u);
    for (unsigned int i = 0; i < digestLength; ++i) {
        text += hexDigits[digest[i] >> 4u];
        text += hexDigits[digest[i] & 0x0Fu];
    }
    return text;
}

std::optional<Sha256Digest> sha256Bytes(std::string_view data) {
    Sha256Digest digest{};
    unsigned int digestLength = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &digestLength, EVP_sha256(), nullptr) !=
            1 ||
        digestLength != digest.size()) {
        return std::nullopt;
    }
    return digest;
}

} // namespace orvanta
