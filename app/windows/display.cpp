#include "app/display.hpp"

namespace orvanta {

// A Windows desktop always has its display; the windowing library never aborts for want of one.
bool displayAvailable() {
    return true;
}

void requireDisplay() {}

} // namespace orvanta
