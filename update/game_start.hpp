#pragma once

#include <string>

namespace orvanta {

// Starts the installed game detached from the launcher; false when it could not be started.
bool launchGame(const std::string& path);

} // namespace orvanta
