#pragma once

#include <string>

namespace orvanta {

// Gives the file mode 0755 and flushes its contents to disk; false when either fails.
bool makeExecutableAndFlush(const std::string& path);

// Flushes a folder's entries (a rename inside it) to disk; failures are ignored.
void flushDirectory(const std::string& directory);

} // namespace orvanta
