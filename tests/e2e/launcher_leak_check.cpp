// Linked into the end-to-end launchers of a sanitizer build (-DORVANTA_SANITIZE=ON).
//
// The GL driver that draws the launcher's window (Mesa's swrast_dri under Xvfb) is unloaded when
// the launcher's last OpenGL resource goes, before LeakSanitizer's check at exit; leaks recorded
// in the driver then point into no loaded module, so tests/lsan.supp cannot name them. As in the
// test programs that draw (support/leak_check_at_end.cpp), a context kept for the whole program
// holds the driver, and the leak check runs at exit once the launcher is gone, with the driver
// still loaded: any leak of the launcher's own code, its destructors included, ends the program
// with LeakSanitizer's report and a failing exit code.
#include "app/display.hpp"

#include <SFML/Window/Context.hpp>
#include <cstdlib>

// Defined by the sanitizer runtime.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {

sf::Context* keptContext = nullptr; // deliberately never destroyed

void checkLeaksNow() {
    if (__lsan_do_leak_check != nullptr) {
        __lsan_do_leak_check(); // the check at exit is skipped after this one
    }
}

// Before main: the launcher program has no hook of its own. Without a display the launcher takes
// its fatal path and opens no window, so there is no driver to keep.
[[maybe_unused]] const bool registered = [] {
    if (orvanta::displayAvailable()) {
        keptContext = new sf::Context();
    }
    std::atexit(checkLeaksNow);
    return true;
}();

} // namespace
