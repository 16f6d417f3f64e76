#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace orvanta {

// The launcher's own program file, and the hand-over to a new build of it.

// The arguments this process was started with, its program's name not among them, as UTF-8.
std::vector<std::string> ownArguments();

// Whether the executable at path lies where a package manager keeps programs (on Linux under
// /usr): the package manager replaces it, never the launcher itself.
bool installedByPackageManager(const std::string& path);

// Keeps the running executable at path under the name aside, so it can be put back: a second name
// on Linux (the file stays where it is), a rename on Windows (a running program cannot be
// replaced, but it can be renamed). A stale file under aside goes first. False when it cannot.
bool setAsideRunningExecutable(const std::string& path, const std::string& aside);

// Moves the file aside back to path, replacing what is there (a build that did not come up).
bool putBackExecutable(const std::string& aside, const std::string& path);

// Removes the file aside, left by the launcher this one replaced; on Windows that launcher may
// still be ending, so the removal is tried again for a short while. True when nothing is left.
bool removeSetAsideExecutable(const std::string& aside);

// A new launcher started to take this one's place, which says when it is up.
class LauncherStart {
  public:
    LauncherStart() = default;
    ~LauncherStart();
    LauncherStart(const LauncherStart&) = delete;
    LauncherStart& operator=(const LauncherStart&) = delete;

    // Starts the executable at path with arguments (the program's name not among them), in this
    // process's working folder, handing it the channel announceLauncherReady writes to. False
    // when it could not be started.
    bool start(const std::string& path, const std::vector<std::string>& arguments);
    // True once the started launcher has said it is up; false when it ended first or did not say
    // so within timeout, in which case it is ended.
    bool awaitReady(std::chrono::milliseconds timeout);

  private:
    std::intptr_t process_ = -1;   // a process id, or a Windows process handle
    std::intptr_t readyRead_ = -1; // the channel's end this process reads
};

// In a launcher started by LauncherStart: tells the launcher that started it that this one is up.
// Does nothing in a launcher started otherwise.
void announceLauncherReady();

// Windows: the installer's uninstall entry shows version as the installed version, when the entry
// exists. Elsewhere nothing.
void recordRunningLauncherVersion(const std::string& version);

} // namespace orvanta
