#pragma once

#include <cstddef>
#include <string>

namespace orvanta {

// Writes every byte to fd, resuming after interruptions; false on any write error.
bool writeAll(int fd, const char* data, std::size_t size);

// Flushes a folder's entries (a rename inside it) to disk; failures are ignored.
void flushDirectory(const std::string& directory);

} // namespace orvanta
