#include "fault/fault_support.hpp"

#include <stdexcept>

namespace orvanta::fault {

namespace {

namespace raw = test::raw_socket;

// Reads until the blank line that ends the request head, for at most five seconds.
std::string readRequestHead(Socket socket) {
    std::string head;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !raw::waitReadable(socket, static_cast<int>(left.count()))) {
            break;
        }
        const long n = raw::receive(socket, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(n));
    }
    return head;
}

} // namespace

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = raw::bindLoopback();
    if (listener_ == raw::none || !raw::listen(listener_, 8)) {
        raw::close(listener_);
        throw std::runtime_error("no loopback port for the test server");
    }
    port_ = raw::portOf(listener_);
    thread_ = std::thread([this] { serve(); });
}

RawServer::~RawServer() {
    stopping_ = true;
    release();
    thread_.join();
    raw::close(listener_);
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
        if (!raw::waitReadable(listener_, 50)) {
            continue;
        }
        const Socket client = raw::accept(listener_);
        if (client == raw::none) {
            continue;
        }
        const std::string head = readRequestHead(client);
        if (!head.empty()) {
            ++requests_;
            handler_(*this, client, head);
        }
        raw::close(client);
    }
}

bool sendAll(Socket socket, const std::string& bytes) {
    return raw::send(socket, bytes);
}

std::string responseHead(long long contentLength, const std::string& status) {
    std::string head = "HTTP/1.1 " + status + "\r\nContent-Type: application/octet-stream\r\n";
    if (contentLength >= 0) {
        head += "Content-Length: " + std::to_string(contentLength) + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

void resetConnection(Socket socket) {
    // The server closes the socket after the handler; that close then sends a reset.
    raw::resetOnClose(socket);
}

} // namespace orvanta::fault
