// The HTTPS servers: built where the tests have cpp-httplib with OpenSSL (not on Windows yet).
#include "support/loopback_server.hpp"

#include <stdexcept>

namespace orvanta::test {

LoopbackServer::LoopbackServer(const std::string& certPath, const std::string& keyPath)
    : LoopbackServer(std::make_unique<httplib::SSLServer>(certPath.c_str(), keyPath.c_str()),
                     true) {
    if (!server_->is_valid()) {
        throw std::runtime_error("the test certificate could not be loaded");
    }
}

LoopbackServer::LoopbackServer(const std::function<bool(SSL_CTX&)>& setup)
    : LoopbackServer(std::make_unique<httplib::SSLServer>(setup), true) {
    if (!server_->is_valid()) {
        throw std::runtime_error("the test TLS context could not be set up");
    }
}

} // namespace orvanta::test
