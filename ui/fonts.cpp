#include "ui/fonts.hpp"

#include "app/launcher.hpp"

#include <SFML/System/Err.hpp>
#include <filesystem>
#include <system_error>

namespace orvanta {

std::vector<std::string> fontCandidates(FontFace face, const std::string& executableDirectory) {
    const bool bold = face == FontFace::Bold;
    const std::string nunito = bold ? "Nunito-Bold.ttf" : "Nunito-Regular.ttf";
    std::vector<std::string> candidates = {
        "../../assets/fonts/" + nunito,
        "../assets/fonts/" + nunito,
        "assets/fonts/" + nunito,
        bold ? "C:/Windows/Fonts/segoeuib.ttf" : "C:/Windows/Fonts/segoeui.ttf",
        bold ? "C:/Windows/Fonts/arialbd.ttf" : "C:/Windows/Fonts/arial.ttf",
    };
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

std::string executableDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return program.parent_path().string();
}

void Launcher::loadFonts() {
    const std::string programDirectory = executableDirectory();
    loadFirstFont(boldFont, fontCandidates(FontFace::Bold, programDirectory));
    loadFirstFont(regularFont, fontCandidates(FontFace::Regular, programDirectory));
}

} // namespace orvanta
