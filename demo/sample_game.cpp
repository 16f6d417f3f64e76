// The sample game the demo update channel serves: one window naming the build and its version.
#include "app/display.hpp"

#include <SFML/Graphics.hpp>
#include <cstdio>
#include <initializer_list>
#include <string>

#ifndef ORVANTA_SAMPLE_GAME_VERSION
#define ORVANTA_SAMPLE_GAME_VERSION "0.0.0"
#endif

namespace {

bool loadFont(sf::Font& font) {
    // Each platform's faces (those of the other platform simply fail to open); fonts/ is where the
    // Windows installer puts the launcher's, the working folder of a launcher started from its
    // shortcut.
    for (const char* path :
         {"assets/fonts/Nunito-Bold.ttf", "../assets/fonts/Nunito-Bold.ttf",
          "C:/Windows/Fonts/segoeuib.ttf", "C:/Windows/Fonts/arialbd.ttf", "fonts/Nunito-Bold.ttf",
          "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"}) {
        if (font.loadFromFile(path)) {
            return true;
        }
    }
    return false;
}

} // namespace

int main() {
    const std::string version = ORVANTA_SAMPLE_GAME_VERSION;
    if (!orvanta::displayAvailable()) {
        std::fprintf(stderr, "Orvanta sample build %s: no display\n", version.c_str());
        return 1;
    }
    sf::RenderWindow window(sf::VideoMode(520, 240), "Orvanta sample build",
                            sf::Style::Titlebar | sf::Style::Close);
    window.setFramerateLimit(30);
    sf::Font font;
    const bool haveFont = loadFont(font);
    sf::Text title("Orvanta sample build", font, 32);
    title.setFillColor(sf::Color(255, 240, 160));
    title.setPosition(40.0f, 60.0f);
    sf::Text versionLine("Version " + version, font, 22);
    versionLine.setFillColor(sf::Color(210, 235, 180));
    versionLine.setPosition(40.0f, 120.0f);
    sf::RectangleShape field({520.0f, 60.0f});
    field.setPosition(0.0f, 180.0f);
    field.setFillColor(sf::Color(92, 150, 48));

    while (window.isOpen()) {
        sf::Event event;
        while (window.pollEvent(event)) {
            if (event.type == sf::Event::Closed ||
                (event.type == sf::Event::KeyPressed && event.key.code == sf::Keyboard::Escape)) {
                window.close();
            }
        }
        window.clear(sf::Color(38, 58, 28));
        window.draw(field);
        if (haveFont) {
            window.draw(title);
            window.draw(versionLine);
        }
        window.display();
    }
    return 0;
}
