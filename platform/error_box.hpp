#pragma once

#include <string>

namespace orvanta {

// Shows the system's modal error message box (no owner window, an error icon and an OK button)
// with the UTF-8 caption and message, and returns once it has been dismissed. Bytes that are not
// UTF-8 show as replacement characters. Windows only: on Linux the launcher draws its own box.
void showErrorBox(const std::string& caption, const std::string& message);

} // namespace orvanta
