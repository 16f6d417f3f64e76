#include "app/fatal_error.hpp"

#include "platform/error_box.hpp"

namespace orvanta {

void showFatalError(const std::string& message) {
    showErrorBox("Orvanta Launcher", message);
}

} // namespace orvanta
