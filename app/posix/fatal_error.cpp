#include "app/fatal_error.hpp"

#include "app/display.hpp"
#include "app/launcher.hpp"
#include "platform/paths.hpp"
#include "ui/fonts.hpp"

#include <SFML/Graphics.hpp>
#include <algorithm>
#include <iostream>

namespace orvanta {

namespace {

constexpr const char* caption = "Orvanta Launcher";
constexpr unsigned boxWidth = 440;
constexpr float messageWidth = 340.0f;
const sf::Color background(245, 236, 210);
const sf::Color markColor(200, 50, 40);
const sf::Color inkColor(50, 60, 40);
const sf::Color buttonColor(92, 150, 48);

void writeToStandardError(const std::string& message) {
    std::cerr << caption << ": " << message << '\n';
}

// Greedy word wrap to a pixel width with the box's font; a word wider than the box (a long path)
// is broken between characters.
sf::String wrapToWidth(const sf::String& message, const sf::Font& font, unsigned size,
                       float maxWidth) {
    sf::Text probe("", font, size);
    const auto width = [&](const sf::String& line) {
        probe.setString(line);
        return probe.getLocalBounds().width;
    };
    sf::String result;
    sf::String line;
    sf::String word;
    const auto flushWord = [&] {
        sf::String joined = line.isEmpty() ? word : line + " " + word;
        if (width(joined) <= maxWidth || line.isEmpty()) {
            line = joined;
        } else {
            result += line + "\n";
            line = word;
        }
        while (width(line) > maxWidth && line.getSize() > 1) {
            std::size_t fit = line.getSize() - 1;
            while (fit > 1 && width(line.substring(0, fit)) > maxWidth) {
                --fit;
            }
            result += line.substring(0, fit) + "\n";
            line = line.substring(fit);
        }
        word.clear();
    };
    for (const sf::Uint32 c : message) {
        if (c == ' ' || c == '\n') {
            flushWord();
            if (c == '\n') {
                result += line + "\n";
                line.clear();
            }
        } else {
            word += c;
        }
    }
    flushWord();
    return result + line;
}

// A red disc with a white exclamation mark, centred on (x, y).
void drawErrorMark(sf::RenderWindow& window, float x, float y) {
    sf::CircleShape disc(20.0f, 48);
    disc.setOrigin(20.0f, 20.0f);
    disc.setPosition(x, y);
    disc.setFillColor(markColor);
    window.draw(disc);
    sf::RectangleShape bar({5.0f, 17.0f});
    bar.setPosition(x - 2.5f, y - 13.0f);
    bar.setFillColor(sf::Color::White);
    window.draw(bar);
    sf::RectangleShape dot({5.0f, 5.0f});
    dot.setPosition(x - 2.5f, y + 7.0f);
    dot.setFillColor(sf::Color::White);
    window.draw(dot);
}

} // namespace

void showFatalError(const std::string& message) {
    if (!displayAvailable()) {
        writeToStandardError(message);
        return;
    }
    sf::Font font;
    if (!loadFirstFont(font, fontCandidates(FontFace::Regular, executableDirectory()))) {
        writeToStandardError(message);
        return;
    }

    sf::Text text(wrapToWidth(utf8ToDisplay(message), font, 15, messageWidth), font, 15);
    text.setFillColor(inkColor);
    text.setPosition(76.0f, 24.0f);
    const float textBottom = text.getGlobalBounds().top + text.getGlobalBounds().height;
    const unsigned boxHeight = static_cast<unsigned>(std::max(150.0f, textBottom + 76.0f));

    sf::RectangleShape okButton({90.0f, 32.0f});
    okButton.setPosition(static_cast<float>(boxWidth) - 110.0f,
                         static_cast<float>(boxHeight) - 50.0f);
    okButton.setFillColor(buttonColor);
    sf::Text okLabel("OK", font, 16);
    okLabel.setStyle(sf::Text::Bold);
    okLabel.setFillColor(sf::Color::White);
    const sf::FloatRect labelBounds = okLabel.getLocalBounds();
    okLabel.setOrigin(labelBounds.left + labelBounds.width / 2.0f,
                      labelBounds.top + labelBounds.height / 2.0f);
    okLabel.setPosition(okButton.getPosition() + okButton.getSize() / 2.0f);

    sf::RenderWindow window(sf::VideoMode(boxWidth, boxHeight, 32), caption,
                            sf::Style::Titlebar | sf::Style::Close);
    window.setVerticalSyncEnabled(true);
    window.requestFocus();
    while (window.isOpen()) {
        window.clear(background);
        drawErrorMark(window, 44.0f, 44.0f);
        window.draw(text);
        window.draw(okButton);
        window.draw(okLabel);
        window.display();

        // Waiting for events keeps the box idle until the player answers.
        sf::Event event;
        if (!window.waitEvent(event)) {
            break;
        }
        do {
            const bool dismissKey =
                event.type == sf::Event::KeyPressed &&
                (event.key.code == sf::Keyboard::Enter || event.key.code == sf::Keyboard::Escape);
            const bool okClicked =
                event.type == sf::Event::MouseButtonPressed &&
                event.mouseButton.button == sf::Mouse::Left &&
                okButton.getGlobalBounds().contains(static_cast<float>(event.mouseButton.x),
                                                    static_cast<float>(event.mouseButton.y));
            if (event.type == sf::Event::Closed || dismissKey || okClicked) {
                window.close();
                break;
            }
        } while (window.pollEvent(event));
    }
}

} // namespace orvanta
