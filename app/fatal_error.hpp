#pragma once

#include <string>

namespace orvanta {

// Tells the player about an error the launcher cannot recover from, in a modal box captioned
// "Orvanta Launcher" with an error mark, the UTF-8 message and an OK button, and returns once the
// player has dismissed it. On Windows it is the system's message box. On Linux it is a small
// window of its own (Enter, Escape or closing it dismiss it too); without a display, or without
// any usable font, the message goes to standard error instead.
void showFatalError(const std::string& message);

} // namespace orvanta
