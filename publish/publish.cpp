#include "publish/publish.hpp"

#include "platform/posix/file_sync.hpp"
#include "platform/posix/signing_key.hpp"
#include "platform/sha256.hpp"
#include "platform/signature.hpp"
#include "platform/small_file.hpp"
#include "update/signed_manifest.hpp"
#include "update/versions.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

namespace orvanta::publish {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t maxVersionInFileName = 64;
constexpr std::size_t maxKeyFileBytes = 64 * 1024;

std::string systemError(int code) {
    return std::strerror(code);
}

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

bool isValidUtf8(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        std::uint32_t minimum = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            codePoint = c & 0x1Fu;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            codePoint = c & 0x0Fu;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            codePoint = c & 0x07u;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > n) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint < minimum || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool startsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// A temporary file beside its final name; removed on destruction unless it was renamed.
class TemporaryFile {
  public:
    TemporaryFile(const std::string& directory, const std::string& finalName)
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
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Flushes the contents to disk and closes the file; errno-style code on failure, else 0.
    int finish() {
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
    // Moves the file to target; afterwards it is no longer removed.
    int renameTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return errno;
        }
        path_.clear();
        return 0;
    }

  private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
};

// Why path cannot serve as a file to publish, or the empty string.
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

// The whole file, or absent when it cannot be read.
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

// Creates path with the given mode (never replacing a file) and writes text to disk; the file is
// removed again when anything fails.
std::string createFileWith(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
        return "cannot create " + path + ": " + systemError(errno);
    }
    // The umask may only have narrowed the mode; make it exact.
    bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int code = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(path.c_str());
        return "cannot write " + path + ": " + systemError(code);
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

std::string gameFileName(const std::string& version) {
    return "Orvanta-" + fileNameSafeVersion(version) + ".exe";
}

std::string launcherFileName(const std::string& version) {
    return "orvanta-launcher-" + fileNameSafeVersion(version);
}

std::optional<std::string> checkVersion(const std::string& version) {
    if (version.empty()) {
        return "must not be empty";
    }
    if (isAsciiSpace(version.front()) || isAsciiSpace(version.back())) {
        return "must not begin or end with white space";
    }
    for (char c : version) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return "must not contain control characters";
        }
    }
    if (!isValidUtf8(version)) {
        return "must be UTF-8 text";
    }
    return std::nullopt;
}

BaseUrl normalizeBaseUrl(const std::string& baseUrl) {
    std::string scheme;
    if (startsWithIgnoreCase(baseUrl, "https://")) {
        scheme = "https://";
    } else if (startsWithIgnoreCase(baseUrl, "http://")) {
        scheme = "http://";
    } else {
        return {{}, "base URL must start with http:// or https://: " + baseUrl};
    }
    for (char c : baseUrl) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            return {{},
                    "base URL must not contain white space, control or non-ASCII characters "
                    "(percent-encode them): " +
                        baseUrl};
        }
        if (c == '?' || c == '#') {
            return {{}, "base URL must not contain a query or fragment: " + baseUrl};
        }
    }
    std::string url = baseUrl;
    while (url.size() > scheme.size() && url.back() == '/') {
        url.pop_back();
    }
    const std::string rest = url.substr(scheme.size());
    const std::string authority = rest.substr(0, rest.find('/'));
    const std::string host =
        authority.substr(authority.rfind('@') == std::string::npos ? 0 : authority.rfind('@') + 1);
    if (host.empty() || host.front() == ':') {
        return {{}, "base URL has no host: " + baseUrl};
    }
    return {url, {}};
}

std::string channelUrl(const std::string& baseUrl, const std::string& fileName) {
    return baseUrl + "/" + channelFolderName + "/" + fileName;
}

ChangelogText readChangelog(const std::string& path) {
    const std::string problem = checkSourceFile("changelog file", path);
    // An empty changelog file is allowed: it simply means no changelog.
    if (!problem.empty() && problem.rfind("changelog file is empty", 0) != 0) {
        return {{}, problem};
    }
    std::ifstream in(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return {{}, "cannot read changelog file " + path};
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
    }
    if (!isValidUtf8(text)) {
        return {{}, "changelog file is not UTF-8 text: " + path};
    }
    std::string normalized;
    normalized.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        normalized += text[i];
    }
    while (!normalized.empty() && isAsciiSpace(normalized.back())) {
        normalized.pop_back();
    }
    return {normalized, {}};
}

PublishedFile publishFile(const std::string& source, const std::string& directory,
                          const std::string& fileName) {
    const std::string target = directory + "/" + fileName;
    const std::string sourceDigest = sha256File(source);
    if (sourceDigest.empty()) {
        return {{}, "cannot read " + source};
    }

    TemporaryFile temporary(directory, fileName);
    if (!temporary.valid()) {
        return {{},
                "cannot write to output folder " + directory + ": " +
                    systemError(temporary.error())};
    }
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return {{}, "cannot read " + source + ": " + systemError(errno)};
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
            return {{}, "cannot read " + source + ": " + systemError(code)};
        }
        if (got == 0) {
            break;
        }
        if (!writeAll(temporary.fd(), buffer, static_cast<std::size_t>(got))) {
            const int code = errno;
            ::close(in);
            return {{}, "cannot write to output folder " + directory + ": " + systemError(code)};
        }
    }
    ::close(in);
    if (const int code = temporary.finish(); code != 0) {
        return {{}, "cannot write to output folder " + directory + ": " + systemError(code)};
    }

    const std::string copyDigest = sha256File(temporary.path());
    if (copyDigest != sourceDigest) {
        return {{},
                source + " changed while it was being copied; publish again once it is "
                         "complete"};
    }

    std::error_code ec;
    const bool fileThere = fs::is_regular_file(target, ec);
    const bool sameFileThere = fileThere && sha256File(target) == copyDigest;
    bool replaced = false;
    if (!sameFileThere) {
        replaced = fileThere;
        // A reader that already opened the old file keeps reading the old file to its end.
        if (const int code = temporary.renameTo(target); code != 0) {
            return {{}, "cannot write " + target + ": " + systemError(code)};
        }
        flushDirectory(directory);
    }

    const std::string publishedDigest = sha256File(target);
    if (publishedDigest.empty()) {
        return {{}, "cannot read back " + target};
    }
    if (publishedDigest != copyDigest) {
        return {{}, target + " changed while it was being published; publish again"};
    }
    return {publishedDigest, {}, replaced};
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

std::string manifestJson(const UpdateManifest& manifest, const std::string& publishedAt) {
    nlohmann::ordered_json document;
    document["game_version"] = manifest.game_version;
    document["game_url"] = manifest.game_url;
    document["game_sha256"] = manifest.game_sha256;
    // Without a launcher build the launcher keys are left out; they read as empty.
    if (!manifest.launcher_url.empty()) {
        document["launcher_version"] = manifest.launcher_version;
        document["launcher_url"] = manifest.launcher_url;
        document["launcher_sha256"] = manifest.launcher_sha256;
    }
    document["changelog"] = manifest.changelog;
    if (!publishedAt.empty()) {
        document["published_at"] = publishedAt;
    }
    // Every text was checked to be UTF-8, so dump cannot fail; replace keeps it from throwing
    // even so.
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string publishedAtText(std::time_t time) {
    std::tm utc{};
    char text[32] = {};
    if (::gmtime_r(&time, &utc) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        return {};
    }
    return text;
}

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

PublishOutcome publishBuild(const PublishRequest& request) {
    PublishOutcome outcome;
    auto fail = [&outcome](std::string error) {
        outcome.error = std::move(error);
        return outcome;
    };

    if (const auto problem = checkVersion(request.version)) {
        return fail("version " + *problem);
    }
    const BaseUrl base = normalizeBaseUrl(request.baseUrl);
    if (!base.error.empty()) {
        return fail(base.error);
    }
    const bool withLauncher = !request.launcherPath.empty() || !request.launcherVersion.empty();
    if (withLauncher && (request.launcherPath.empty() || request.launcherVersion.empty())) {
        return fail("--launcher and --launcher-version must be given together");
    }
    if (withLauncher) {
        if (const auto problem = checkVersion(request.launcherVersion)) {
            return fail("launcher version " + *problem);
        }
    }
    if (request.outDirectory.empty()) {
        return fail("output folder must not be empty");
    }
    if (auto problem = checkSourceFile("game file", request.gamePath); !problem.empty()) {
        return fail(problem);
    }
    if (withLauncher) {
        if (auto problem = checkSourceFile("launcher file", request.launcherPath);
            !problem.empty()) {
            return fail(problem);
        }
    }
    const bool signing = !request.signingKeyPath.empty();
    std::string signingKey;
    std::string publicKey;
    if (signing) {
        if (auto problem = checkSourceFile("signing key", request.signingKeyPath);
            !problem.empty()) {
            return fail(problem);
        }
        const auto key = readSmallFile(request.signingKeyPath, maxKeyFileBytes);
        const auto derived = key ? publicKeyOf(*key) : std::nullopt;
        if (!derived) {
            return fail("signing key is not an unencrypted PEM ECDSA P-256 private key: " +
                        request.signingKeyPath);
        }
        signingKey = *key;
        publicKey = *derived;
    }
    std::string changelog;
    if (!request.changelogPath.empty()) {
        ChangelogText text = readChangelog(request.changelogPath);
        if (!text.error.empty()) {
            return fail(text.error);
        }
        changelog = std::move(text.text);
    }

    const std::string channel = (fs::path(request.outDirectory) / channelFolderName).string();
    std::error_code ec;
    fs::create_directories(channel, ec);
    if (ec || !fs::is_directory(channel, ec)) {
        return fail("cannot create output folder " + channel + ": " +
                    (ec ? ec.message() : std::string("not a folder")));
    }

    const std::string manifestPath = channel + "/" + manifestFileName;
    const std::string signaturePath = channel + "/" + signatureFileName;
    const std::string previousManifest = readWholeFile(manifestPath).value_or(std::string());
    std::string publishedAt;
    if (!signing && fs::symlink_status(signaturePath, ec).type() != fs::file_type::not_found) {
        // An unsigned manifest there would be refused by every launcher that carries a key.
        return fail("the channel in " + channel + " is signed (" + signatureFileName +
                    " is there): publish with --signing-key");
    }
    if (signing) {
        publishedAt = publishedAtText(request.now != 0 ? request.now : std::time(nullptr));
        const std::string previousAt = manifestPublishedAt(previousManifest);
        if (publishedAt.empty()) {
            return fail("cannot read the clock");
        }
        if (isPublishedAt(previousAt) && publishedAt < previousAt) {
            return fail("the channel's manifest was published at " + previousAt +
                        ", later than this machine's clock (" + publishedAt +
                        "): launchers that accepted it would refuse this build; check the clock");
        }
    }

    UpdateManifest& manifest = outcome.result.manifest;
    manifest.game_version = request.version;
    const std::string gameName = gameFileName(request.version);
    manifest.game_url = channelUrl(base.url, gameName);
    const PublishedFile game = publishFile(request.gamePath, channel, gameName);
    if (!game.error.empty()) {
        return fail(game.error);
    }
    manifest.game_sha256 = game.sha256;
    if (game.replaced) {
        outcome.result.replacedFiles.push_back(gameName);
    }

    std::string launcherName;
    if (withLauncher) {
        launcherName = launcherFileName(request.launcherVersion);
        const PublishedFile launcher = publishFile(request.launcherPath, channel, launcherName);
        if (!launcher.error.empty()) {
            return fail(launcher.error);
        }
        if (launcher.replaced) {
            outcome.result.replacedFiles.push_back(launcherName);
        }
        manifest.launcher_version = request.launcherVersion;
        manifest.launcher_url = channelUrl(base.url, launcherName);
        manifest.launcher_sha256 = launcher.sha256;
    }
    manifest.changelog = changelog;

    const std::string manifestText = manifestJson(manifest, publishedAt);
    if (signing) {
        // Launchers that carry a key install nothing unverified.
        if (manifest.game_sha256.empty()) {
            return fail("a signed manifest needs the game's SHA-256");
        }
        const std::string signature = signData(manifestText, signingKey);
        if (signature.empty()) {
            return fail("cannot sign the manifest with " + request.signingKeyPath);
        }
        // The new line first, then the old manifest's: a player who gets the old manifest with
        // the new signature file still finds its line.
        std::string signatureFile = encodeSignatureLine(signature) + "\n";
        const std::string previousSignatures =
            readSmallFile(signaturePath, maxSignatureFileBytes).value_or(std::string());
        for (const std::string& line :
             carriedSignatures(previousManifest, previousSignatures, publicKey)) {
            signatureFile += encodeSignatureLine(line) + "\n";
        }
        if (auto error = writeFileAtomically(signaturePath, signatureFile); !error.empty()) {
            return fail(error);
        }
    }

    // The manifest goes last: until it is renamed into place, the server keeps announcing the
    // previous build, whose files are still there.
    if (auto error = writeFileAtomically(manifestPath, manifestText); !error.empty()) {
        return fail(error);
    }

    // Read back what a launcher would read.
    std::ifstream in(manifestPath, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::optional<UpdateManifest> parsed = parseManifest(written);
    if (!parsed || parsed->game_version != manifest.game_version ||
        parsed->game_url != manifest.game_url || parsed->game_sha256 != manifest.game_sha256 ||
        parsed->launcher_version != manifest.launcher_version ||
        parsed->launcher_url != manifest.launcher_url ||
        parsed->launcher_sha256 != manifest.launcher_sha256 ||
        parsed->changelog != manifest.changelog) {
        return fail("the manifest read back from " + manifestPath +
                    " differs from what was written");
    }
    if (sha256File(channel + "/" + gameName) != parsed->game_sha256) {
        return fail("the published game file no longer matches the manifest's digest");
    }
    if (withLauncher && sha256File(channel + "/" + launcherName) != parsed->launcher_sha256) {
        return fail("the published launcher file no longer matches the manifest's digest");
    }
    if (signing) {
        const auto signatures =
            parseSignatureFile(readSmallFile(signaturePath, maxSignatureFileBytes).value_or(""));
        if (!signatures || !verifySignature(written, signatures->front(), publicKey) ||
            manifestPublishedAt(written) != publishedAt) {
            return fail("the signature read back from " + signaturePath +
                        " does not verify the manifest");
        }
    }

    outcome.result.channelDirectory = channel;
    outcome.result.manifestPath = manifestPath;
    if (signing) {
        outcome.result.signaturePath = signaturePath;
        outcome.result.publishedAt = publishedAt;
    }
    outcome.result.manifestUrl = channelUrl(base.url, manifestFileName);
    return outcome;
}

} // namespace orvanta::publish
