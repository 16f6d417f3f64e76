#include "support/loopback_server.hpp"

#include <stdexcept>

namespace orvanta::test {

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()) {}

LoopbackServer::LoopbackServer(const std::string& certPath, const std::string& keyPath)
    : server_(std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str())),
      secure_(true) {
    if (!server_->is_valid()) {
        throw std::runtime_error("the test certificate could not be loaded");
    }
}

LoopbackServer::LoopbackServer(const std::function<bool(SSL_CTX&)>& setup)
    : server_(std::make_unique<httplib::SSLServer>(setup)), secure_(true) {
    if (!server_->is_valid()) {
        throw std::runtime_error("the test TLS context could not be set up");
    }
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
