// Linked into the end-to-end test programs (also when the Windows build drives its launcher
// through them).
//
// Their server listens on a loopback port fixed when the launchers under test were built, so two
// runs on one machine at once (two build folders, say) would meet there: one run's launcher would
// talk to the other run's server. Before any test starts, the program moves into a network
// namespace of its own, with a loopback that is its alone; the servers, displays and launchers it
// starts inherit it. Where no namespace can be had, runs take turns through a lock instead.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* lockPath = "/tmp/orvanta-e2e.lock";

bool writeProcFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

// A new namespace's loopback starts down.
bool bringUpLoopback() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        up = ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    }
    close(fd);
    return up;
}

struct Outcome {
    bool entered = false;
    std::string error; // entered: what went wrong inside; otherwise why there is no namespace
};

// Root makes a network namespace directly. Anyone else needs a user namespace around it, where
// the user stays itself (mapped to its own ids) and may configure the new network.
Outcome enterOwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        const std::string direct = std::strerror(errno);
        const std::string uid = std::to_string(geteuid());
        const std::string gid = std::to_string(getegid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            return {false, direct + "; inside a user namespace: " + std::strerror(errno)};
        }
        if (!writeProcFile("/proc/self/setgroups", "deny") ||
            !writeProcFile("/proc/self/uid_map", uid + " " + uid + " 1\n") ||
            !writeProcFile("/proc/self/gid_map", gid + " " + gid + " 1\n")) {
            return {true, "cannot map the user into its new user namespace"};
        }
    }
    if (!bringUpLoopback()) {
        return {true, "cannot bring up the loopback of the new network namespace: " +
                          std::string(std::strerror(errno))};
    }
    return {true, ""};
}

// Held until the program ends; the processes it starts do not inherit it.
void waitForOtherRuns() {
    int fd = open(lockPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fd = open(lockPath, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        std::fprintf(stderr, "end-to-end tests: cannot open the lock %s (%s); not waiting\n",
                     lockPath, std::strerror(errno));
        return;
    }
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

class OwnNetwork : public testing::Environment {
    void SetUp() override {
        const Outcome outcome = enterOwnNetwork();
        // Half-made, the namespace has no usable loopback and there is no way back out.
        ASSERT_FALSE(outcome.entered && !outcome.error.empty()) << outcome.error;
        if (outcome.entered) {
            return;
        }
        std::fprintf(stderr,
                     "end-to-end tests: no network namespace of their own (%s). They share this "
                     "machine's loopback, so they wait for any other end-to-end run here to end "
                     "(lock %s).\n",
                     outcome.error.c_str(), lockPath);
        waitForOtherRuns();
    }
};

[[maybe_unused]] const testing::Environment* const registered =
    testing::AddGlobalTestEnvironment(new OwnNetwork);

} // namespace
