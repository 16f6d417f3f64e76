#pragma once

#include <string>
#include <system_error>

namespace orvanta {

inline constexpr const char* gameExecutableName = "Orvanta.exe";
inline constexpr const char* versionFileName = "version.txt";
inline constexpr const char* downloadSuffix = ".download";

// "Orvanta" in the user's local application-data folder; the relative "Orvanta" without one.
std::string resolveInstallDirectory();
std::string joinPath(const std::string& directory, const std::string& name);
// A small text file without leading and trailing white space; empty when it cannot be opened or
// is not a regular file of at most 4 KiB.
std::string readTrimmedFile(const std::string& path);
// Replaces the file whole through a flushed temporary file beside it (path + ".new").
bool writeTextFile(const std::string& path, const std::string& text);
// Frees a download file's name for a new file: a leftover goes, whatever it is (a link or junction
// without what it points at). False, with nothing touched, while another launcher holds the file
// it is writing there. Throws filesystem_error when the leftover cannot be removed; the second
// form sets error and returns false instead.
bool clearDownloadName(const std::string& path);
bool clearDownloadName(const std::string& path, std::error_code& error);

} // namespace orvanta
