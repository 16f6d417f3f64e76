#pragma once

#include <SFML/Graphics/Font.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

enum class FontFace { Bold, Regular };

// Files tried for a face, in order: the Nunito family under the working directory's assets
// (two levels up, one level up, here), the Windows faces, the fonts installed beside the
// executable (executableDirectory empty: skipped), then common system sans faces.
std::vector<std::string> fontCandidates(FontFace face, const std::string& executableDirectory);

// Opens the first candidate that the font library accepts into font; the winner's index, or
// nothing (font left empty) when none opens.
std::optional<std::size_t> loadFirstFont(sf::Font& font,
                                         const std::vector<std::string>& candidates);

// The folder of the running program, from /proc/self/exe; empty when it cannot be read.
std::string executableDirectory();

} // namespace orvanta
