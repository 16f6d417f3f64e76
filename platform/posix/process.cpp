#include "platform/process.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#if __has_include(<linux/close_range.h>)
#include <linux/close_range.h>
#endif

namespace orvanta {

namespace {

void closeQuietly(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// Runs in the grandchild: nothing here may allocate or lock.
[[noreturn]] void execOrReport(const char* path, int reportFd) {
#ifdef CLOSE_RANGE_CLOEXEC
    // The game must not inherit the launcher's window connection or sockets.
    ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
#endif
    char* const argv[] = {const_cast<char*>(path), nullptr};
    ::execv(path, argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

} // namespace

bool startDetachedProcess(const std::string& path) {
    int report[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    // Fork twice: the intermediate child exits at once and is reaped here, so the game is
    // adopted by the system and never lingers as our zombie.
    const pid_t child = ::fork();
    if (child < 0) {
        closeQuietly(report[0]);
        closeQuietly(report[1]);
        return false;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            execOrReport(path.c_str(), report[1]);
        }
        if (grandchild < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t written = ::write(report[1], &error, sizeof error);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes without data when exec succeeded (close-on-exec); an error number
    // arrives when it failed.
    int error = 0;
    ssize_t received = 0;
    do {
        received = ::read(report[0], &error, sizeof error);
    } while (received < 0 && errno == EINTR);
    ::close(report[0]);
    return received == 0;
}

} // namespace orvanta
