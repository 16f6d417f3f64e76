#pragma once

#include <string>

namespace orvanta {

inline constexpr const char* gameExecutableName = "Orvanta.exe";
inline constexpr const char* versionFileName = "version.txt";
inline constexpr const char* downloadSuffix = ".download";

// $XDG_DATA_HOME/Orvanta, else $HOME/.local/share/Orvanta, else the relative "Orvanta".
std::string resolveInstallDirectory();
std::string joinPath(const std::string& directory, const std::string& name);
// Whole file without leading and trailing white space; empty when it cannot be opened.
std::string readTrimmedFile(const std::string& path);
bool writeTextFile(const std::string& path, const std::string& text);

} // namespace orvanta
