#include "fault/fault_support.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvanta::fault {

namespace {

constexpr unsigned nobodyId = 65534;

// Reads until the blank line that ends the request head, for at most five seconds.
std::string readRequestHead(int socket) {
    std::string head;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd p{socket, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        const ssize_t n = recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return head;
}

} // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw std::runtime_error("no socket for the test server");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener_);
        throw std::runtime_error("no loopback port for the test server");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    stopping_ = true;
    release();
    thread_.join();
    close(listener_);
}

std::string RawServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool RawServer::hold(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return released_.wait_for(lock, limit, [this] { return open_; });
}

void RawServer::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
    }
    released_.notify_all();
}

void RawServer::serve() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const std::string head = readRequestHead(client);
        if (!head.empty()) {
            ++requests_;
            handler_(*this, client, head);
        }
        close(client);
    }
}

bool sendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string responseHead(long long contentLength, const std::string& status) {
    std::string head = "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\n";
    if (contentLength >= 0) {
        head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

void resetConnection(int socket) {
    linger option{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    // The server closes the socket after the handler; with a zero linger that close sends RST.
}

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
