#pragma once

#include <cstddef>
#include <string>

namespace orvanta {

// Breaks text at the first space once a line holds width characters or more (the space counts
// and becomes the line feed). Words are never split; existing line feeds restart the count.
// Characters are UTF-8 code points: continuation bytes do not count.
std::string wrapText(const std::string& text, std::size_t width);

} // namespace orvanta
