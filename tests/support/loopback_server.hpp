#pragma once

#include <functional>
#include <httplib.h>
#include <memory>
#include <string>
#include <thread>

// OpenSSL's TLS context, named for the HTTPS constructors even where the tests have no OpenSSL.
typedef struct ssl_ctx_st SSL_CTX;

namespace orvanta::test {

// An in-process HTTP or HTTPS server on 127.0.0.1 at a port the system picks. Register handlers
// on server() before start(); the server stops when the object goes.
class LoopbackServer {
  public:
    LoopbackServer(); // plain HTTP
    // HTTPS, where the tests have cpp-httplib with OpenSSL (loopback_server_tls.cpp; not in the
    // Windows build).
    LoopbackServer(const std::string& certPath, const std::string& keyPath);
    // HTTPS whose TLS context setup prepares whole: certificate, key, versions, security level.
    explicit LoopbackServer(const std::function<bool(SSL_CTX&)>& setup);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server& server() { return *server_; }
    void start();
    void stop();
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path (https when secure).
    std::string url(const std::string& path) const;

  private:
    LoopbackServer(std::unique_ptr<httplib::Server> server, bool secure);

    std::unique_ptr<httplib::Server> server_;
    bool secure_ = false;
    int port_ = 0;
    std::thread thread_;
};

} // namespace orvanta::test
