#include "ui/fonts.hpp"

namespace orvanta {

// The installer puts the Nunito pair in "fonts" beside the executable. The path is UTF-8; the
// program's manifest makes UTF-8 the process code page, so the font library's narrow file
// functions open it even under a non-ASCII user folder.
std::vector<std::string> installedFontCandidates(FontFace face,
                                                 const std::string& executableDirectory) {
    if (executableDirectory.empty()) {
        return {};
    }
    return {executableDirectory + "\\fonts\\" + nunitoFileName(face)};
}

} // namespace orvanta
