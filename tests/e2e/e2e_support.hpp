#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvanta::e2e {

using namespace std::chrono_literals;

// Polls condition every interval until it holds or timeout passes; true when it held.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = 100ms);

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// A child process in its own process group, so everything it starts goes with it. Standard output
// and error go to logPath. Terminated (the whole group) when the object goes.
class Process {
  public:
    Process(const std::vector<std::string>& argv, const std::string& workingDirectory,
            const EnvChanges& environment, const std::string& logPath, int inheritedFd = -1);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    // The exit code once the process has ended within timeout (128 + signal when killed by one).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    // SIGTERM to the group, then SIGKILL when it has not ended within grace.
    void stop(std::chrono::milliseconds grace = 3000ms);
    // SIGKILL to the group at once, as a crash or a power cut ends a program: no cleanup runs.
    void kill();

  private:
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

struct RunResult {
    int exitCode = -1;
    std::string output; // standard output and error together
};
// Runs a program to completion (killed after timeout) with its output captured.
RunResult runProgram(const std::vector<std::string>& argv, const EnvChanges& environment = {},
                     const std::string& workingDirectory = ".",
                     std::chrono::milliseconds timeout = 120000ms);

// The environment the programs under test get: no proxies, so nothing leaves the loopback.
EnvChanges noProxyEnvironment();

// Sanitizer options for the shipped orvanta-launcher, installed or in the build folder (see the
// definition for why). The end-to-end launchers need none: they run with the test's own options,
// leak check included.
void addInstalledLauncherSanitizerOptions(EnvChanges& environment);

// An Xvfb server on a display number it picks itself, 1280 x 1024 x 24 (the launcher window must
// lie wholly on screen to be read back).
class VirtualDisplay {
  public:
    explicit VirtualDisplay(const std::string& workDirectory);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    bool ok() const { return !name_.empty(); }
    const std::string& name() const { return name_; } // ":N"

  private:
    std::optional<Process> server_;
    std::string name_;
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool near(Rgb other, int tolerance = 3) const;
};
std::string toString(Rgb colour);

struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels; // row by row

    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    // Pixels within the rectangle [x0, x1) x [y0, y1) that are near colour.
    int count(int x0, int y0, int x1, int y1, Rgb colour, int tolerance = 3) const;
    bool savePpm(const std::string& path) const;
};

// A client connection to the display, to find, read and close the launcher's window.
class DisplayClient {
  public:
    explicit DisplayClient(const std::string& displayName);
    ~DisplayClient();
    DisplayClient(const DisplayClient&) = delete;
    DisplayClient& operator=(const DisplayClient&) = delete;

    bool ok() const { return display_ != nullptr; }
    // A mapped top-level window with this title; 0 when there is none.
    unsigned long findWindow(const std::string& title);
    std::optional<Screenshot> capture(unsigned long window);
    // What a window manager's close button does: a WM_DELETE_WINDOW message.
    bool requestClose(unsigned long window);

  private:
    void* display_ = nullptr;
};

// Mouse actions through xdotool, at window coordinates.
bool moveMouse(const std::string& displayName, unsigned long window, int x, int y);
bool click(const std::string& displayName, unsigned long window, int x, int y);

// A certificate authority and a server certificate for 127.0.0.1 signed by it, made with the
// openssl command. With existingCa (a folder holding ca.pem and ca.key) that authority signs
// instead of a new one.
struct TestCertificates {
    std::string caPath;
    std::string certPath;
    std::string keyPath;
    std::string error;
};
TestCertificates makeCertificates(const std::string& directory, const std::string& caName,
                                  const std::string& existingCa = {});

// Whether something accepts TCP connections on 127.0.0.1:port.
bool portAccepts(int port);

} // namespace orvanta::e2e
