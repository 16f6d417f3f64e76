#include "app/fatal_error.hpp"
#include "app/launcher.hpp"
#include "app/startup.hpp"
#include "platform/launcher_process.hpp"
#include "platform/paths.hpp"

#include <exception>

namespace {

// Set when the program is built: its version, and whether it replaces itself with the launcher
// builds its channel announces (off for studios that ship through a store).
constexpr const char* launcherVersion = ORVANTA_LAUNCHER_VERSION;
constexpr bool selfUpdate = ORVANTA_SELF_UPDATE;

} // namespace

// The launcher reads no arguments: everything it needs is fixed when it is built. A new build it
// hands over to is started with the same ones all the same.
int main() {
    orvanta::prepareProcess();
    try {
        orvanta::Launcher launcher;
        // The window is open: a launcher that started this one may end now.
        orvanta::announceLauncherReady();
        const std::string path = orvanta::ownExecutablePath();
        orvanta::recordRunningLauncherVersion(launcherVersion);
        if (selfUpdate && !path.empty()) {
            orvanta::finishLauncherHandOver(path);
            launcher.ownLauncher =
                orvanta::OwnLauncher{launcherVersion, path, orvanta::ownArguments()};
        }
        launcher.run();
    } catch (const std::exception& error) {
        // The launcher (and its window) is gone by now; the message stands on its own.
        orvanta::showFatalError(error.what());
        return 1;
    }
    return 0;
}
