#pragma once

#include <SFML/Graphics/Font.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

enum class FontFace { Bold, Regular };

// Files tried for a face, in order: the Nunito family under the working directory's assets
// (two levels up, one level up, here), the Windows faces, then installedFontCandidates.
std::vector<std::string> fontCandidates(FontFace face, const std::string& executableDirectory);

// The candidates after the listed ones, by platform: on Linux the fonts installed beside the
// executable (skipped when executableDirectory is empty), then common system sans faces; on
// Windows the Nunito fonts in the `fonts` folder beside the executable, where the installer puts
// them.
std::vector<std::string> installedFontCandidates(FontFace face,
                                                 const std::string& executableDirectory);

// "Nunito-Bold.ttf" or "Nunito-Regular.ttf".
std::string nunitoFileName(FontFace face);

// Opens the first candidate that the font library accepts into font; the winner's index, or
// nothing (font left empty) when none opens.
std::optional<std::size_t> loadFirstFont(sf::Font& font,
                                         const std::vector<std::string>& candidates);

} // namespace orvanta
