#include "publish/manifest_signing.hpp"

#include "platform/posix/file_sync.hpp"
#include "platform/posix/signing_key.hpp"
#include "platform/signature.hpp"
#include "platform/small_file.hpp"
#include "publish/channel_files.hpp"
#include "publish/manifest_writer.hpp"
#include "update/signed_manifest.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t maxKeyFileBytes = 64 * 1024;

// Creates path with the given mode (never replacing a file) and writes text to disk; the file is
// removed again when anything fails.
std::string createFileWith(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        return "cannot create " + path + ": " + std::strerror(errno);
    }
    // The umask may only have narrowed the mode; make it exact.
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int code = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        return "cannot write " + path + ": " + std::strerror(code);
    }
    return {};
}

// The signature lines of the manifest being replaced, to serve beside the new one while players
// may still fetch the old manifest: the lines that verify it with this key, or, when none does
// (it was signed with an earlier key), the lines that were served with it.
std::vector<std::string> carriedSignatures(const std::string& previousManifest,
                                           const std::string& previousSignatureFile,
                                           const std::string& publicKey) {
    const auto lines = parseSignatureFile(previousSignatureFile);
    if (previousManifest.empty() || !lines) {
        return {};
    }
    std::vector<std::string> carried;
    for (const std::string& signature : *lines) {
        if (verifySignature(previousManifest, signature, publicKey)) {
            carried.push_back(signature);
        }
    }
    if (carried.empty()) {
        carried = *lines;
    }
    if (carried.size() > maxCarriedSignatures) {
        carried.resize(maxCarriedSignatures);
    }
    return carried;
}

} // namespace

KeygenOutcome writeSigningKeyPair(const std::string& directory) {
    KeygenOutcome outcome;
    std::error_code ec;
    fs::create_directories(directory, ec);
    if (ec || !fs::is_directory(directory, ec)) {
        outcome.error = "cannot create folder " + directory + ": " +
                        (ec ? ec.message() : std::string("not a folder"));
        return outcome;
    }
    const std::string privatePath = (fs::path(directory) / privateKeyFileName).string();
    const std::string publicPath = (fs::path(directory) / publicKeyFileName).string();
    for (const std::string& path : {privatePath, publicPath}) {
        if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
            outcome.error = path + " already exists; keygen never replaces a key";
            return outcome;
        }
    }
    const std::optional<SigningKeyPair> pair = generateSigningKey();
    if (!pair) {
        outcome.error = "cannot generate a key pair";
        return outcome;
    }
    if (auto error = createFileWith(privatePath, pair->privateKeyPem, 0600); !error.empty()) {
        outcome.error = error;
        return outcome;
    }
    if (auto error = createFileWith(publicPath, pair->publicKeyPem, 0644); !error.empty()) {
        ::unlink(privatePath.c_str());
        outcome.error = error;
        return outcome;
    }
    flushDirectory(directory);
    outcome.privateKeyPath = privatePath;
    outcome.publicKeyPath = publicPath;
    return outcome;
}

SigningKey readSigningKey(const std::string& path) {
    if (auto problem = checkSourceFile("signing key", path); !problem.empty()) {
        return {{}, {}, problem};
    }
    const auto key = readSmallFile(path, maxKeyFileBytes);
    const auto derived = key ? publicKeyOf(*key) : std::nullopt;
    if (!derived) {
        return {{}, {}, "signing key is not an unencrypted PEM ECDSA P-256 private key: " + path};
    }
    return {*key, *derived, {}};
}

std::optional<std::string> signatureFileText(const std::string& manifestText, const SigningKey& key,
                                             const std::string& previousManifest,
                                             const std::string& previousSignatureFile) {
    const std::string signature = signData(manifestText, key.privateKeyPem);
    if (signature.empty()) {
        return std::nullopt;
    }
    // The new line first, then the old manifest's: a player who gets the old manifest with the
    // new signature file still finds its line.
    std::string text = encodeSignatureLine(signature) + "\n";
    for (const std::string& line :
         carriedSignatures(previousManifest, previousSignatureFile, key.publicKeyPem)) {
        text += encodeSignatureLine(line) + "\n";
    }
    return text;
}

PublicationTimes publicationTimes(const std::string& previousManifest, std::time_t now,
                                  bool allowClockBehind, unsigned expiresInDays) {
    PublicationTimes times;
    times.publishedAt = publishedAtText(now != 0 ? now : std::time(nullptr));
    if (times.publishedAt.empty()) {
        times.error = "cannot read the clock";
        return times;
    }
    const std::string previousAt = manifestPublishedAt(previousManifest);
    if (isPublishedAt(previousAt) && times.publishedAt < previousAt) {
        if (!allowClockBehind) {
            times.error = "the channel's manifest was published at " + previousAt +
                          ", later than this machine's clock (" + times.publishedAt +
                          "): launchers that accepted it would refuse this build; check the "
                          "clock, or if that date is wrong, publish with --allow-clock-behind";
            return times;
        }
        // Dated at this machine's clock: launchers record the earlier of a manifest's date and
        // their own clock, so they take it, and the next publication needs no flag.
    }
    if (expiresInDays != 0) {
        times.expiresAt = formatPublishedAt(*publishedAtTime(times.publishedAt) +
                                            std::chrono::days(expiresInDays));
    }
    return times;
}

bool signatureFileVerifies(const std::string& signatureFile, const std::string& manifestText,
                           const std::string& publicKeyPem) {
    const auto signatures = parseSignatureFile(signatureFile);
    return signatures && verifySignature(manifestText, signatures->front(), publicKeyPem);
}

std::string writeSignatureFile(const std::string& signaturePath, const std::string& manifestText,
                               const SigningKey& key, const std::string& keyPath,
                               const std::string& previousManifest) {
    const std::string previousSignatures =
        readSmallFile(signaturePath, maxSignatureFileBytes).value_or(std::string());
    const std::optional<std::string> signatureFile =
        signatureFileText(manifestText, key, previousManifest, previousSignatures);
    if (!signatureFile) {
        return "cannot sign the manifest with " + keyPath;
    }
    return writeFileAtomically(signaturePath, *signatureFile);
}

} // namespace orvanta::publish
