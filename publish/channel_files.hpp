#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace orvanta::publish {

// The folder inside the output folder that a web server exposes; the launcher's manifest address
// ends in "/orvanta-downloads/manifest.json".
inline constexpr const char* channelFolderName = "orvanta-downloads";
inline constexpr const char* manifestFileName = "manifest.json";
inline constexpr const char* signatureFileName = "manifest.json.sig";

// A version as it may appear in a file name: letters, digits, '.', '_' and '-' kept, every other
// byte replaced by '_'. When anything was replaced (or the text was cut to a sane length) a short
// fingerprint of the original text is appended, so two versions never share a file name.
std::string fileNameSafeVersion(const std::string& version);
// Every published file but the manifest and its signature is named after its contents:
// "<stem>-<the first 12 hex digits of its SHA-256><extension>". A name never holds two contents,
// so a cache may keep any file for good and a republished version never rewrites one.
inline constexpr std::size_t digestInFileName = 12;
std::string digestFileName(const std::string& stem, const std::string& sha256Hex,
                           const std::string& extension);
// The stems: "Orvanta-<version>" and "orvanta-launcher-<version>", the version made safe by
// fileNameSafeVersion.
std::string gameFileStem(const std::string& version);
std::string launcherFileStem(const std::string& version);
inline constexpr const char* gameFileExtension = ".exe";

// Why path cannot serve as a file to publish (missing, unreadable, not a regular file, empty),
// with what naming it in the message; the empty string when it can.
std::string checkSourceFile(const std::string& what, const std::string& path);

// The whole file, or absent when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);

// Copies source into directory under its digest name (stem, digest, extension) through a
// temporary file in the same folder (written, flushed to disk, then renamed), so a reader sees
// either no file or the whole one. A file of that name with the same contents is left as it is;
// one with other contents (a damaged copy) is replaced. Returns the name and the SHA-256 of the
// file as it lies in the folder afterwards, or an error.
struct PublishedFile {
    std::string fileName;
    std::string sha256;
    std::string error;
};
PublishedFile publishFile(const std::string& source, const std::string& directory,
                          const std::string& stem, const std::string& extension);

// The text of an errno-style code.
std::string systemError(int code);

// A temporary file beside its final name (mode 0644); removed on destruction unless renamed.
class TemporaryFile {
  public:
    TemporaryFile(const std::string& directory, const std::string& finalName);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int error() const { return error_; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Flushes the contents to disk and closes the file; errno-style code on failure, else 0.
    int finish();
    // Moves the file to target; afterwards it is no longer removed. errno-style code or 0.
    int renameTo(const std::string& target);

  private:
    std::string path_;
    int fd_ = -1;
    int error_ = 0;
};

// Writes text to path atomically: a temporary file in the same folder, flushed to disk, renamed
// over path, and the folder flushed. Returns an error or the empty string.
std::string writeFileAtomically(const std::string& path, const std::string& text);

} // namespace orvanta::publish
