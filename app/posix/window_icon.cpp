#include "app/window_icon.hpp"

namespace orvanta {

// The icon images are compiled into the program (app/embed_icons.cmake).
std::optional<sf::Image> loadWindowIcon() {
    return loadIconFrom(embeddedIcons());
}

} // namespace orvanta
