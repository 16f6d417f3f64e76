#include "app/fatal_error.hpp"
#include "app/launcher.hpp"
#include "app/startup.hpp"

#include <exception>

// The launcher takes no arguments: everything it needs is fixed when it is built.
int main() {
    orvanta::prepareProcess();
    try {
        orvanta::Launcher launcher;
        launcher.run();
    } catch (const std::exception& error) {
        // The launcher (and its window) is gone by now; the message stands on its own.
        orvanta::showFatalError(error.what());
        return 1;
    }
    return 0;
}
