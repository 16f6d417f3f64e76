#pragma once

#include <optional>
#include <string>

namespace orvanta {

// The separator joinPath puts between a folder and a name on this platform.
extern const char pathSeparator;

// The current user's folder for local application data (on Linux $XDG_DATA_HOME when it is set
// and absolute, else $HOME/.local/share); absent when it cannot be found.
std::optional<std::string> localDataFolder();

} // namespace orvanta
