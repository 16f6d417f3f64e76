#pragma once

#include <string>

namespace orvanta {

// Starts the executable at path as an independent process (own session, no arguments, this
// process's working directory), without waiting for it. True once it has been executed.
bool startDetachedProcess(const std::string& path);

} // namespace orvanta
