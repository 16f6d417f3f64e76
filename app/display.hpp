#pragma once

namespace orvanta {

// Whether an X display can be opened (on Windows: always). The windowing library aborts the
// process when it cannot reach one, so this must be asked before any window or texture is made.
bool displayAvailable();

// Throws std::runtime_error with a message for the player when there is no display.
void requireDisplay();

} // namespace orvanta
