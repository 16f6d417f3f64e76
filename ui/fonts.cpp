#include "ui/fonts.hpp"

#include "app/launcher.hpp"
#include "platform/paths.hpp"

#include <SFML/System/Err.hpp>

namespace orvanta {

std::string nunitoFileName(FontFace face) {
    return face == FontFace::Bold ? "Nunito-Bold.ttf" : "Nunito-Regular.ttf";
}

std::vector<std::string> fontCandidates(FontFace face, const std::string& executableDirectory) {
    const bool bold = face == FontFace::Bold;
    const std::string nunito = nunitoFileName(face);
    std::vector<std::string> candidates = {
        "../../assets/fonts/" + nunito,
        "../assets/fonts/" + nunito,
        "assets/fonts/" + nunito,
        bold ? "C:/Windows/Fonts/segoeuib.ttf" : "C:/Windows/Fonts/segoeui.ttf",
        bold ? "C:/Windows/Fonts/arialbd.ttf" : "C:/Windows/Fonts/arial.ttf",
    };
    const std::vector<std::string> installed = installedFontCandidates(face, executableDirectory);
    candidates.insert(candidates.end(), installed.begin(), installed.end());
    return candidates;
}

std::optional<std::size_t> loadFirstFont(sf::Font& font,
                                         const std::vector<std::string>& candidates) {
    // Candidates that fail are expected (most of the list is fallbacks), so the font library's
    // complaint about each one is kept off the terminal while searching.
    std::streambuf* const errorOutput = sf::err().rdbuf(nullptr);
    std::optional<std::size_t> winner;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (font.loadFromFile(candidates[i])) {
            winner = i;
            break;
        }
    }
    sf::err().rdbuf(errorOutput);
    return winner;
}

void Launcher::loadFonts() {
    const std::string programDirectory = executableDirectory();
    loadFirstFont(boldFont, fontCandidates(FontFace::Bold, programDirectory));
    loadFirstFont(regularFont, fontCandidates(FontFace::Regular, programDirectory));
}

} // namespace orvanta
