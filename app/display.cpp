#include "app/display.hpp"

#include <X11/Xlib.h>
#include <stdexcept>

namespace orvanta {

bool displayAvailable() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

void requireDisplay() {
    if (!displayAvailable()) {
        throw std::runtime_error("Orvanta needs a graphical desktop, but no display could be "
                                 "opened (is DISPLAY set?).");
    }
}

} // namespace orvanta
