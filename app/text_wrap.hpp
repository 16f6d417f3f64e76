#pragma once

#include <cstddef>
#include <string>

namespace orvanta {

// Breaks text at the first space once a line holds width characters or more (the space counts
// and becomes the line feed). Words are never split; existing line feeds restart the count.
// Characters are UTF-8 code points: continuation bytes do not count.
std::string wrapText(const std::string& text, std::size_t width);

// The first maxLines lines of text, each cut after maxCharacters characters (UTF-8 code points).
// A text drawn unclipped can be reduced to what a window could ever show, so a huge text from a
// server costs no more to draw than a screenful.
std::string keepVisiblePart(const std::string& text, std::size_t maxLines,
                            std::size_t maxCharacters);

} // namespace orvanta
