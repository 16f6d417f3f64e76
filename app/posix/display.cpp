#include "app/display.hpp"

#include <X11/Xlib.h>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orvanta {

namespace {

// The probing connection stays open. Closing it at once could leave the X server without any
// client for a moment, and a server that resets then (Xvfb does by default) would refuse the
// window's own connection made right after the probe.
struct ProbeConnection {
    Display* display = nullptr;
    std::string name;

    ~ProbeConnection() { close(); }
    void close() {
        if (display != nullptr) {
            XCloseDisplay(display);
            display = nullptr;
        }
    }
};

} // namespace

bool displayAvailable() {
    static ProbeConnection probe;
    const char* variable = std::getenv("DISPLAY");
    const std::string name = variable != nullptr ? variable : "";
    if (probe.display != nullptr && probe.name == name) {
        return true;
    }
    probe.close();
    probe.display = XOpenDisplay(nullptr);
    probe.name = name;
    return probe.display != nullptr;
}

void requireDisplay() {
    if (!displayAvailable()) {
        throw std::runtime_error("Orvanta needs a graphical desktop, but no display could be "
                                 "opened (is DISPLAY set?).");
    }
}

} // namespace orvanta
