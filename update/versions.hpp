#pragma once

#include <string>

namespace orvanta {

// Byte-wise equality that folds only the letters A to Z.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

} // namespace orvanta
