// The faults that need POSIX processes: a forked child, dropped privileges, the openssl command.
#include "fault/fault_support.hpp"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace orvanta::fault {

namespace {

constexpr unsigned nobodyId = 65534;

} // namespace

TestCertificate makeTestCertificate(const std::string& folder) {
    TestCertificate certificate{folder + "/cert.pem", folder + "/key.pem"};
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
        " -addext basicConstraints=critical,CA:TRUE -keyout '" +
        certificate.keyPath + "' -out '" + certificate.certPath + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("openssl could not make the test certificate");
    }
    return certificate;
}

unsigned unprivilegedUid() {
    return geteuid() == 0 ? nobodyId : geteuid();
}

std::string runInChild(const std::function<std::string()>& body, bool unprivileged,
                       std::chrono::seconds limit) {
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe for the child");
    }
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        close(channel[0]);
        std::string result;
        try {
            if (unprivileged && geteuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setgid(nobodyId) != 0 || setuid(nobodyId) != 0)) {
                result = "child failed: cannot drop privileges";
            } else {
                result = body();
            }
        } catch (const std::exception& e) {
            result = std::string("exception: ") + e.what();
        } catch (...) {
            result = "exception: unknown";
        }
        std::size_t written = 0;
        while (written < result.size()) {
            const ssize_t n = write(channel[1], result.data() + written, result.size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(channel[1]);
    std::string result;
    char buffer[512];
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool finished = false;
    while (!finished) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{channel[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            kill(child, SIGKILL);
            result = "child failed: took longer than " + std::to_string(limit.count()) + " s";
            break;
        }
        const ssize_t n = read(channel[0], buffer, sizeof buffer);
        if (n <= 0) {
            finished = true;
        } else {
            result.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (finished && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        result = "child failed: status " + std::to_string(status);
    }
    return result;
}

} // namespace orvanta::fault
