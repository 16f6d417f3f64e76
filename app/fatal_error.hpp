#pragma once

#include <string>

namespace orvanta {

// Tells the player about an error the launcher cannot recover from: a small modal window captioned
// "Orvanta Launcher" with an error mark, the message and an OK button (Enter, Escape or closing
// the window dismiss it). Without a display, or without any usable font, the message goes to
// standard error instead. Returns once the player has dismissed it.
void showFatalError(const std::string& message);

} // namespace orvanta
