#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvanta {

// The separator joinPath puts between a folder and a name on this platform.
extern const char pathSeparator;

// The current user's folder for local application data (on Linux $XDG_DATA_HOME when it is set
// and absolute, else $HOME/.local/share); absent when it cannot be found.
std::optional<std::string> localDataFolder();

// The standard library's path for a UTF-8 path text: on Windows decoded to UTF-16, elsewhere the
// bytes as they are.
std::filesystem::path nativePath(const std::string& utf8);

// The folder of the running program as UTF-8 (on Linux from /proc/self/exe); empty when it cannot
// be found.
std::string executableDirectory();
// The path of this process's executable; empty when it cannot be told.
std::string ownExecutablePath();

} // namespace orvanta
