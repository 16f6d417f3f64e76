#include "e2e_support.hpp"

#include "support/temp_dir.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace orvanta::e2e {

namespace {

std::vector<std::string> buildEnvironment(const EnvChanges& changes) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : variables) {
        result.push_back(name + "=" + value);
    }
    return result;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Xlib's default handler ends the process on any protocol error, for example a window that went
// away between finding and reading it; the tests want a failed call instead.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

Display* asDisplay(void* display) {
    return static_cast<Display*>(display);
}

int shiftOf(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
}

Process::Process(const std::vector<std::string>& argv, const std::string& workingDirectory,
                 const EnvChanges& environment, const std::string& logPath, int inheritedFd) {
    std::vector<std::string> env = buildEnvironment(environment);
    std::vector<char*> cArgv;
    std::vector<std::string> args = argv;
    for (auto& argument : args) {
        cArgv.push_back(argument.data());
    }
    cArgv.push_back(nullptr);
    std::vector<char*> cEnv;
    for (auto& entry : env) {
        cEnv.push_back(entry.data());
    }
    cEnv.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        if (null >= 0) {
            dup2(null, 0);
        }
        if (inheritedFd >= 0) {
            fcntl(inheritedFd, F_SETFD, 0);
        }
        if (chdir(workingDirectory.c_str()) != 0) {
            _exit(126);
        }
        execve(cArgv[0], cArgv.data(), cEnv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", cArgv[0], std::strerror(errno));
        _exit(127);
    }
    if (pid_ > 0) {
        // Also from this side, so a stop() right after the fork reaches the group.
        setpgid(pid_, pid_);
    }
}

Process::~Process() {
    stop();
}

bool Process::running() {
    return pid_ > 0 && !waitForExit(0ms).has_value();
}

std::optional<int> Process::waitForExit(std::chrono::milliseconds timeout) {
    if (exitCode_ || pid_ <= 0) {
        return exitCode_;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exitCode_ = decodeStatus(status);
            return exitCode_;
        }
        if (done < 0 && errno != EINTR) {
            exitCode_ = -1;
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(20ms);
    }
}

void Process::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) {
        return;
    }
    if (!exitCode_) {
        ::kill(-pid_, SIGTERM);
        if (!waitForExit(grace)) {
            ::kill(-pid_, SIGKILL);
            waitForExit(10000ms);
        }
    }
    // Whatever the leader left behind in its group (nginx workers, for one).
    ::kill(-pid_, SIGKILL);
}

void Process::kill() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(-pid_, SIGKILL);
        waitForExit(10000ms);
    }
}

RunResult runProgram(const std::vector<std::string>& argv, const EnvChanges& environment,
                     const std::string& workingDirectory, std::chrono::milliseconds timeout) {
    test::TempDir scratch;
    const std::string log = scratch.file("output.txt");
    RunResult result;
    {
        Process process(argv, workingDirectory, environment, log);
        const std::optional<int> code = process.waitForExit(timeout);
        result.exitCode = code ? *code : -1;
    }
    result.output = test::readFile(log);
    if (result.exitCode == -1) {
        result.output += "\n(did not finish in time)";
    }
    return result;
}

EnvChanges noProxyEnvironment() {
    EnvChanges changes;
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "ftp_proxy", "FTP_PROXY"}) {
        changes[name] = std::nullopt;
    }
    changes["no_proxy"] = "*";
    return changes;
}

void addInstalledLauncherSanitizerOptions(EnvChanges& environment) {
    // In a sanitizer build the shipped launcher lets its GL driver go before LeakSanitizer's check
    // at exit, which then reports the driver's two small allocations in no loaded module, so no
    // suppression can name them. The end-to-end launchers, the same code, keep the driver for
    // their leak check (launcher_leak_check.cpp); every other sanitizer check stays on here.
    const char* inherited = std::getenv("ASAN_OPTIONS");
    environment["ASAN_OPTIONS"] =
        std::string(inherited != nullptr ? inherited : "") + ":detect_leaks=0";
}

VirtualDisplay::VirtualDisplay(const std::string& workDirectory) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;
    }
    server_.emplace(std::vector<std::string>{ORVANTA_E2E_XVFB, "-displayfd", std::to_string(fds[1]),
                                             "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                                             "-noreset"},
                    workDirectory, EnvChanges{}, workDirectory + "/xvfb.log", fds[1]);
    ::close(fds[1]);
    // Xvfb writes the display number once it accepts clients.
    std::string number;
    pollfd waitFor{fds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline && number.find('\n') == std::string::npos) {
        if (poll(&waitFor, 1, 200) > 0) {
            char buffer[32];
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            number.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fds[0]);
    if (number.find('\n') != std::string::npos) {
        name_ = ":" + number.substr(0, number.find('\n'));
    }
}

VirtualDisplay::~VirtualDisplay() = default;

bool Rgb::near(Rgb other, int tolerance) const {
    return std::abs(r - other.r) <= tolerance && std::abs(g - other.g) <= tolerance &&
           std::abs(b - other.b) <= tolerance;
}

std::string toString(Rgb colour) {
    return "rgb(" + std::to_string(colour.r) + ", " + std::to_string(colour.g) + ", " +
           std::to_string(colour.b) + ")";
}

int Screenshot::count(int x0, int y0, int x1, int y1, Rgb colour, int tolerance) const {
    int matches = 0;
    for (int y = std::max(0, y0); y < std::min(height, y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(width, x1); ++x) {
            if (at(x, y).near(colour, tolerance)) {
                ++matches;
            }
        }
    }
    return matches;
}

bool Screenshot::savePpm(const std::string& path) const {
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (const Rgb& pixel : pixels) {
        out.put(static_cast<char>(pixel.r))
            .put(static_cast<char>(pixel.g))
            .put(static_cast<char>(pixel.b));
    }
    return static_cast<bool>(out);
}

DisplayClient::DisplayClient(const std::string& displayName) {
    XSetErrorHandler(ignoreXError);
    display_ = XOpenDisplay(displayName.c_str());
}

DisplayClient::~DisplayClient() {
    if (display_ != nullptr) {
        XCloseDisplay(asDisplay(display_));
    }
}

unsigned long DisplayClient::findWindow(const std::string& title) {
    if (display_ == nullptr) {
        return 0;
    }
    Display* display = asDisplay(display_);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return 0;
    }
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, children[i], &attributes) == 0 ||
            attributes.map_state != IsViewable) {
            continue;
        }
        char* name = nullptr;
        if (XFetchName(display, children[i], &name) != 0 && name != nullptr) {
            if (title == name) {
                found = children[i];
            }
            XFree(name);
        }
    }
    if (children != nullptr) {
        XFree(children);
    }
    return found;
}

std::optional<Screenshot> DisplayClient::capture(unsigned long window) {
    if (display_ == nullptr || window == 0) {
        return std::nullopt;
    }
    Display* display = asDisplay(display_);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        return std::nullopt;
    }
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return std::nullopt;
    }
    Screenshot shot;
    shot.width = attributes.width;
    shot.height = attributes.height;
    shot.pixels.resize(static_cast<std::size_t>(shot.width * shot.height));
    const int redShift = shiftOf(image->red_mask);
    const int greenShift = shiftOf(image->green_mask);
    const int blueShift = shiftOf(image->blue_mask);
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            shot.pixels[static_cast<std::size_t>(y * shot.width + x)] = {
                static_cast<std::uint8_t>((pixel & image->red_mask) >> redShift),
                static_cast<std::uint8_t>((pixel & image->green_mask) >> greenShift),
                static_cast<std::uint8_t>((pixel & image->blue_mask) >> blueShift)};
        }
    }
    XDestroyImage(image);
    return shot;
}

bool DisplayClient::requestClose(unsigned long window) {
    if (display_ == nullptr || window == 0) {
        return false;
    }
    Display* display = asDisplay(display_);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    return sent != 0;
}

bool moveMouse(const std::string& displayName, unsigned long window, int x, int y) {
    EnvChanges env{{"DISPLAY", displayName}};
    return runProgram({ORVANTA_E2E_XDOTOOL, "mousemove", "--window", std::to_string(window),
                       std::to_string(x), std::to_string(y)},
                      env, ".", 20000ms)
               .exitCode == 0;
}

bool click(const std::string& displayName, unsigned long window, int x, int y) {
    EnvChanges env{{"DISPLAY", displayName}};
    return runProgram({ORVANTA_E2E_XDOTOOL, "mousemove", "--window", std::to_string(window),
                       std::to_string(x), std::to_string(y), "sleep", "0.2", "click", "1"},
                      env, ".", 20000ms)
               .exitCode == 0;
}

TestCertificates makeCertificates(const std::string& directory, const std::string& caName,
                                  const std::string& existingCa) {
    TestCertificates result;
    result.caPath = directory + "/ca.pem";
    result.certPath = directory + "/server.pem";
    result.keyPath = directory + "/server.key";
    const std::string caKey = directory + "/ca.key";
    const std::string request = directory + "/server.csr";
    const std::string extensions = directory + "/server.ext";
    test::writeFile(extensions, "basicConstraints=CA:FALSE\n"
                                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                                "extendedKeyUsage=serverAuth\n"
                                "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    const std::string openssl = ORVANTA_E2E_OPENSSL;
    std::vector<std::vector<std::string>> steps = {
        {openssl,
         "req",
         "-x509",
         "-newkey",
         "ec",
         "-pkeyopt",
         "ec_paramgen_curve:prime256v1",
         "-nodes",
         "-keyout",
         caKey,
         "-out",
         result.caPath,
         "-days",
         "2",
         "-subj",
         "/CN=" + caName,
         "-addext",
         "basicConstraints=critical,CA:TRUE",
         "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"},
        {openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", result.keyPath, "-out", request, "-subj", "/CN=127.0.0.1"},
        {openssl, "x509", "-req", "-in", request, "-CA", result.caPath, "-CAkey", caKey,
         "-CAcreateserial", "-out", result.certPath, "-days", "2", "-extfile", extensions},
    };
    if (!existingCa.empty()) {
        std::error_code error;
        for (const char* name : {"/ca.pem", "/ca.key"}) {
            if (!std::filesystem::copy_file(existingCa + name, directory + name, error)) {
                result.error = "no test CA in " + existingCa + ": " + error.message();
                return result;
            }
        }
        steps.erase(steps.begin());
    }
    for (const auto& step : steps) {
        const RunResult run = runProgram(step, {}, directory);
        if (run.exitCode != 0) {
            result.error = "openssl " + step[1] + " failed: " + run.output;
            return result;
        }
    }
    return result;
}

bool portAccepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool accepted =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

} // namespace orvanta::e2e
