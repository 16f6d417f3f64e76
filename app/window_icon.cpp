#include "app/window_icon.hpp"

#include <vector>

namespace orvanta {

std::optional<sf::Image> loadIconFrom(std::span<const EmbeddedImage> icons) {
    for (const unsigned wantedWidth : {256u, 64u}) {
        for (const EmbeddedImage& icon : icons) {
            if (icon.width != wantedWidth || icon.bytes == nullptr || icon.size == 0) {
                continue;
            }
            sf::Image image;
            if (image.loadFromMemory(icon.bytes, icon.size)) {
                return image;
            }
        }
    }
    return std::nullopt;
}

sf::Image imageFromBgra(const std::uint8_t* pixels, unsigned width, unsigned height) {
    sf::Image image;
    if (pixels == nullptr || width == 0 || height == 0) {
        return image;
    }
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4u);
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
        rgba[i] = pixels[i + 2];
        rgba[i + 1] = pixels[i + 1];
        rgba[i + 2] = pixels[i];
        rgba[i + 3] = pixels[i + 3];
    }
    image.create(width, height, rgba.data());
    return image;
}

} // namespace orvanta
