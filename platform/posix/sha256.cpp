#include "platform/sha256.hpp"

#include "platform/file_digest.hpp"
#include "platform/posix/file_descriptor.hpp"
#include "platform/posix/openssl_handles.hpp"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta {

struct Sha256::State {
    openssl::DigestContext context{EVP_MD_CTX_new()};
    bool good = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;

bool Sha256::update(std::string_view data) {
    state_->good =
        state_->good && EVP_DigestUpdate(state_->context.get(), data.data(), data.size()) == 1;
    return state_->good;
}

std::optional<Sha256Digest> Sha256::finish() {
    Sha256Digest digest{};
    unsigned int digestLength = 0;
    const bool made =
        state_->good &&
        EVP_DigestFinal_ex(state_->context.get(), digest.data(), &digestLength) == 1 &&
        digestLength == digest.size();
    state_->good = false;
    return made ? std::optional(digest) : std::nullopt;
}

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
    return sha256OfFile([fd](std::uint64_t offset, char* data, std::size_t size) {
        return readAtOffset(fd, offset, data, size);
    });
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
