#pragma once

#include <string>

namespace orvanta {

// SHA-256 of the file's contents as 64 lower-case hex digits; the empty string on any failure.
std::string sha256File(const std::string& path);

} // namespace orvanta
