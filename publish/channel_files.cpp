#include "publish/channel_files.hpp"

#include "platform/posix/file_sync.hpp"
#include "platform/sha256.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t maxVersionInFileName = 64;

bool isSafeFileNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// FNV-1a: a stable fingerprint for file names, not a security measure.
std::string fingerprint(const std::string& text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08x", static_cast<unsigned>(hash));
    return buffer;
}

} // namespace

std::string systemError(int code) {
    return std::strerror(code);
}

TemporaryFile::TemporaryFile(const std::string& directory, const std::string& finalName)
    : path_(directory + "/." + finalName + ".tmp-XXXXXX") {
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) {
        error_ = errno;
        path_.clear();
    } else {
        // Published files are read by the web server, whoever runs it.
        ::fchmod(fd_, 0644);
    }
}

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

int TemporaryFile::finish() {
    int result = 0;
    if (::fsync(fd_) != 0) {
        result = errno;
    }
    if (::close(fd_) != 0 && result == 0) {
        result = errno;
    }
    fd_ = -1;
    return result;
}

int TemporaryFile::renameTo(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        return errno;
    }
    path_.clear();
    return 0;
}

std::string fileNameSafeVersion(const std::string& version) {
    std::string safe;
    bool changed = false;
    for (char c : version) {
        if (isSafeFileNameByte(c)) {
            safe += c;
        } else {
            safe += '_';
            changed = true;
        }
    }
    if (safe.size() > maxVersionInFileName) {
        safe.resize(maxVersionInFileName);
        changed = true;
    }
    if (changed) {
        safe += "-" + fingerprint(version);
    }
    return safe;
}

std::string digestFileName(const std::string& stem, const std::string& sha256Hex,
                           const std::string& extension) {
    return stem + "-" + sha256Hex.substr(0, digestInFileName) + extension;
}

std::string gameFileStem(const std::string& version) {
    return "Orvanta-" + fileNameSafeVersion(version);
}

std::string launcherFileStem(const std::string& version) {
    return "orvanta-launcher-" + fileNameSafeVersion(version);
}

std::string checkSourceFile(const std::string& what, const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        return what + " not found: " + path;
    }
    if (ec) {
        return "cannot read " + what + " " + path + ": " + ec.message();
    }
    if (status.type() != fs::file_type::regular) {
        return what + " is not a regular file: " + path;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "cannot read " + what + " " + path + ": " + systemError(errno);
    }
    char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    const int readError = errno;
    ::close(fd);
    if (got < 0) {
        return "cannot read " + what + " " + path + ": " + systemError(readError);
    }
    if (got == 0) {
        return what + " is empty: " + path;
    }
    return {};
}

std::optional<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return std::nullopt;
    }
    return text;
}

PublishedFile publishFile(const std::string& source, const std::string& directory,
                          const std::string& stem, const std::string& extension) {
    const std::string sourceDigest = sha256File(source);
    if (sourceDigest.empty()) {
        return {{}, {}, "cannot read " + source};
    }
    const std::string fileName = digestFileName(stem, sourceDigest, extension);
    const std::string target = directory + "/" + fileName;

    TemporaryFile temporary(directory, fileName);
    if (!temporary.valid()) {
        return {{},
                {},
                "cannot write to output folder " + directory + ": " +
                    systemError(temporary.error())};
    }
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return {{}, {}, "cannot read " + source + ": " + systemError(errno)};
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int code = errno;
            ::close(in);
            return {{}, {}, "cannot read " + source + ": " + systemError(code)};
        }
        if (got == 0) {
            break;
        }
        if (!writeAll(temporary.fd(), buffer, static_cast<std::size_t>(got))) {
            const int code = errno;
            ::close(in);
            return {
                {}, {}, "cannot write to output folder " + directory + ": " + systemError(code)};
        }
    }
    ::close(in);
    if (const int code = temporary.finish(); code != 0) {
        return {{}, {}, "cannot write to output folder " + directory + ": " + systemError(code)};
    }

    const std::string copyDigest = sha256File(temporary.path());
    if (copyDigest != sourceDigest) {
        return {{},
                {},
                source + " changed while it was being copied; publish again once it is "
                         "complete"};
    }

    std::error_code ec;
    const bool fileThere = fs::is_regular_file(target, ec);
    if (!fileThere || sha256File(target) != copyDigest) {
        // A reader that already opened the old file keeps reading the old file to its end.
        if (const int code = temporary.renameTo(target); code != 0) {
            return {{}, {}, "cannot write " + target + ": " + systemError(code)};
        }
        flushDirectory(directory);
    }

    const std::string publishedDigest = sha256File(target);
    if (publishedDigest.empty()) {
        return {{}, {}, "cannot read back " + target};
    }
    if (publishedDigest != copyDigest) {
        return {{}, {}, target + " changed while it was being published; publish again"};
    }
    return {fileName, publishedDigest, {}};
}

std::string writeFileAtomically(const std::string& path, const std::string& text) {
    const fs::path target(path);
    const std::string directory =
        target.has_parent_path() ? target.parent_path().string() : std::string(".");
    TemporaryFile temporary(directory, target.filename().string());
    if (!temporary.valid()) {
        return "cannot write to output folder " + directory + ": " + systemError(temporary.error());
    }
    if (!writeAll(temporary.fd(), text.data(), text.size())) {
        return "cannot write " + temporary.path() + ": " + systemError(errno);
    }
    if (const int code = temporary.finish(); code != 0) {
        return "cannot write " + temporary.path() + ": " + systemError(code);
    }
    if (const int code = temporary.renameTo(path); code != 0) {
        return "cannot write " + path + ": " + systemError(code);
    }
    flushDirectory(directory);
    return {};
}

} // namespace orvanta::publish
