#include "app/window_icon.hpp"

#include "platform/icon_resource.hpp"

namespace orvanta {

namespace {

constexpr int programIconResource = 101;

} // namespace

std::optional<sf::Image> loadWindowIcon() {
    const std::optional<BgraPixels> pixels = loadIconResource(programIconResource);
    if (!pixels) {
        return std::nullopt;
    }
    return imageFromBgra(pixels->bytes.data(), pixels->width, pixels->height);
}

} // namespace orvanta
