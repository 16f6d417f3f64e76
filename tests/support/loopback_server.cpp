#include "support/loopback_server.hpp"

#include <stdexcept>
#include <utility>

namespace orvanta::test {

LoopbackServer::LoopbackServer() : LoopbackServer(std::make_unique<httplib::Server>(), false) {}

LoopbackServer::LoopbackServer(std::unique_ptr<httplib::Server> server, bool secure)
    : server_(std::move(server)), secure_(secure) {
    // Transfers keep their connections for the next request; httplib's stop waits for an idle
    // one to time out, so a short wait keeps every test's end short.
    server_->set_keep_alive_timeout(1);
}

LoopbackServer::~LoopbackServer() {
    stop();
}

void LoopbackServer::start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("no loopback port for the test server");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) {
        std::this_thread::yield();
    }
}

void LoopbackServer::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

std::string LoopbackServer::url(const std::string& path) const {
    return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

} // namespace orvanta::test
