#include "ui/fonts.hpp"

namespace orvanta {

std::vector<std::string> installedFontCandidates(FontFace face,
                                                 const std::string& executableDirectory) {
    const bool bold = face == FontFace::Bold;
    const std::string nunito = nunitoFileName(face);
    std::vector<std::string> candidates;
    if (!executableDirectory.empty()) {
        // An installed launcher: <prefix>/bin/orvanta-launcher beside
        // <prefix>/share/orvanta-launcher/fonts; a build tree may keep assets beside the program.
        candidates.push_back(executableDirectory + "/../share/orvanta-launcher/fonts/" + nunito);
        candidates.push_back(executableDirectory + "/assets/fonts/" + nunito);
    }
    candidates.push_back(bold ? "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
                              : "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
    candidates.push_back(bold ? "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf"
                              : "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf");
    return candidates;
}

} // namespace orvanta
