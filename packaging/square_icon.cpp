// Pads an icon image to a square of the given size, centred on a transparent background, for
// icon themes that only take square images.
// Usage: orvanta-square-icon <input.png> <size> <output.png>

#include <SFML/Graphics/Image.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <input.png> <size> <output.png>\n", argv[0]);
        return 2;
    }
    const long size = std::strtol(argv[2], nullptr, 10);
    sf::Image source;
    if (size <= 0 || size > 4096 || !source.loadFromFile(argv[1])) {
        std::fprintf(stderr, "%s: cannot read %s or bad size %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    const auto side = static_cast<unsigned>(size);
    const sf::Vector2u from = source.getSize();
    if (from.x > side || from.y > side) {
        std::fprintf(stderr, "%s: %s is larger than %ux%u\n", argv[0], argv[1], side, side);
        return 1;
    }
    sf::Image square;
    square.create(side, side, sf::Color::Transparent);
    square.copy(source, (side - from.x) / 2, (side - from.y) / 2);
    if (!square.saveToFile(argv[3])) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
