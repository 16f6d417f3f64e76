#pragma once

#include <SFML/Graphics/Image.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orvanta {

// One encoded image stored inside the program.
struct EmbeddedImage {
    unsigned width;
    unsigned height;
    const unsigned char* bytes;
    std::size_t size;
};

// The program's icon in all its stored sizes (generated at build time from assets/icon; Linux).
std::span<const EmbeddedImage> embeddedIcons();

// The program's icon as an RGBA image: on Linux the 256-pixel-wide embedded image, else the
// 64-pixel-wide one; on Windows the executable's icon resource 101, loaded at 256 x 256, else
// 64 x 64. Nothing when neither can be loaded.
std::optional<sf::Image> loadWindowIcon();
std::optional<sf::Image> loadIconFrom(std::span<const EmbeddedImage> icons);

// Converts rows of 32-bit pixels stored blue, green, red, alpha (top row first) into an RGBA
// image, keeping the fourth byte as alpha. No pixels (or a zero size) gives an empty image.
sf::Image imageFromBgra(const std::uint8_t* pixels, unsigned width, unsigned height);

} // namespace orvanta
