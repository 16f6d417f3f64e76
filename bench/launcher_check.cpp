// A player's first start, timed inside the program: construct the Launcher (window, fonts,
// installation folder) and run its update check, which downloads, verifies and installs the game.
//   orvanta-bench-launcher MANIFEST_URL
// Needs a display and XDG_DATA_HOME pointing at an empty folder. Output, one line:
// "<seconds to construct> <seconds of the check> <phase: Ready or Error> <last error>".
#include "app/launcher.hpp"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvanta-bench-launcher MANIFEST_URL\n");
        return 2;
    }
    using clock = std::chrono::steady_clock;
    const auto started = clock::now();
    orvanta::Launcher launcher(argv[1]);
    const auto constructed = clock::now();
    launcher.checkForUpdates();
    const auto checked = clock::now();
    const bool ready = launcher.phase == orvanta::LauncherPhase::Ready;
    std::printf("%.6f %.6f %s %s\n", std::chrono::duration<double>(constructed - started).count(),
                std::chrono::duration<double>(checked - constructed).count(),
                ready ? "Ready" : "Error", launcher.lastError.c_str());
    return ready ? 0 : 1;
}
