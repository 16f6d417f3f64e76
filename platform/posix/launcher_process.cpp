#include "platform/launcher_process.hpp"

#include "platform/posix/file_sync.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

extern char** environ;

namespace orvanta {

namespace {

// Names the descriptor a started launcher announces itself on.
constexpr const char* readyVariable = "ORVANTA_LAUNCHER_READY_FD";

void closeQuietly(std::intptr_t fd) {
    if (fd >= 0) {
        ::close(static_cast<int>(fd));
    }
}

// Runs in the child: nothing here may allocate or lock.
[[noreturn]] void execLauncher(const char* path, char* const* argv, char* const* envp,
                               int readyFd) {
#ifdef CLOSE_RANGE_CLOEXEC
    // The new launcher must not inherit this one's window connection or sockets.
    ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
#endif
    ::fcntl(readyFd, F_SETFD, 0);
    ::execve(path, argv, envp);
    ::_exit(127);
}

} // namespace

std::vector<std::string> ownArguments() {
    // NUL-separated, the program's name first.
    std::vector<std::string> words;
    std::FILE* file = std::fopen("/proc/self/cmdline", "rb");
    if (file == nullptr) {
        return words;
    }
    std::string word;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c != '\0') {
            word += static_cast<char>(c);
            continue;
        }
        words.push_back(std::move(word));
        word.clear();
    }
    std::fclose(file);
    if (!words.empty()) {
        words.erase(words.begin());
    }
    return words;
}

bool installedByPackageManager(const std::string& path) {
    return path.starts_with("/usr/");
}

bool setAsideRunningExecutable(const std::string& path, const std::string& aside) {
    if (::unlink(aside.c_str()) != 0 && errno != ENOENT) {
        return false;
    }
    return ::link(path.c_str(), aside.c_str()) == 0;
}

bool putBackExecutable(const std::string& aside, const std::string& path) {
    if (std::rename(aside.c_str(), path.c_str()) != 0) {
        return false;
    }
    flushDirectory(std::filesystem::path(path).parent_path().string());
    return true;
}

bool removeSetAsideExecutable(const std::string& aside) {
    return ::unlink(aside.c_str()) == 0 || errno == ENOENT;
}

LauncherStart::~LauncherStart() {
    closeQuietly(readyRead_);
}

bool LauncherStart::start(const std::string& path, const std::vector<std::string>& arguments) {
    int ready[2] = {-1, -1};
    if (process_ >= 0 || ::pipe2(ready, O_CLOEXEC) != 0) {
        return false;
    }
    // Everything the child needs is made before the fork: after it, only exec may follow.
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment;
    const std::string prefix = std::string(readyVariable) + "=";
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with(prefix)) {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back(prefix + std::to_string(ready[1]));
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        execLauncher(path.c_str(), argv.data(), envp.data(), ready[1]);
    }
    ::close(ready[1]);
    if (child < 0) {
        ::close(ready[0]);
        return false;
    }
    process_ = child;
    readyRead_ = ready[0];
    return true;
}

bool LauncherStart::awaitReady(std::chrono::milliseconds timeout) {
    if (process_ < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char signal = 0;
    ssize_t received = -1;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd channel{static_cast<int>(readyRead_), POLLIN, 0};
        const int polled =
            ::poll(&channel, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled > 0) {
            do {
                received = ::read(static_cast<int>(readyRead_), &signal, 1);
            } while (received < 0 && errno == EINTR);
        }
        break;
    }
    const auto pid = static_cast<pid_t>(process_);
    if (received == 1) {
        return true; // it runs on, on its own
    }
    // It ended, closed the channel unsaid or stayed silent: it is not the launcher it should be.
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    process_ = -1;
    return false;
}

void announceLauncherReady() {
    const char* value = std::getenv(readyVariable);
    if (value == nullptr) {
        return;
    }
    char* end = nullptr;
    const long fd = std::strtol(value, &end, 10);
    ::unsetenv(readyVariable);
    // Only a pipe is written to: a stray variable must not make the launcher write into a file.
    struct stat status {};
    if (end == value || *end != '\0' || fd < 3 || fd > 65535 ||
        ::fstat(static_cast<int>(fd), &status) != 0 || !S_ISFIFO(status.st_mode)) {
        return;
    }
    const char signal = 1;
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(fd), &signal, 1);
    ::close(static_cast<int>(fd));
}

void recordRunningLauncherVersion(const std::string&) {}

} // namespace orvanta
