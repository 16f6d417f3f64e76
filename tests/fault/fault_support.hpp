#pragma once

#include "support/raw_socket.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orvanta::fault {

using Socket = test::raw_socket::Socket;

// A bare HTTP/1.1 server on 127.0.0.1 that answers each connection with a script of its own: it
// reads the request head, then hands the socket to the handler, which writes whatever it likes
// (a short body, nothing at all, a connection reset) and returns; the socket is closed after it.
// Connections are served one at a time. Handlers that stall wait on server.hold(), which the test
// ends with release() or the destructor ends anyway.
class RawServer {
  public:
    using Handler =
        std::function<void(RawServer& server, Socket socket, const std::string& requestHead)>;

    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    int requestCount() const { return requests_.load(); }

    // Blocks a handler until release() or the time limit; true when released.
    bool hold(std::chrono::milliseconds limit);
    void release();

  private:
    void serve();

    Handler handler_;
    Socket listener_ = test::raw_socket::none;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::mutex mutex_;
    std::condition_variable released_;
    bool open_ = false;
    std::thread thread_;
};

// Writes all of bytes, ignoring a peer that went away (no SIGPIPE). False when it went away.
bool sendAll(Socket socket, const std::string& bytes);
// "HTTP/1.1 200 OK" head with the given Content-Length (none when negative), closing the
// connection.
std::string responseHead(long long contentLength, const std::string& status = "200 OK");
// Closes the socket with a TCP reset instead of an orderly shutdown.
void resetConnection(Socket socket);

// POSIX only (posix/fault_child.cpp):

// A self-signed certificate for 127.0.0.1 (usable as its own trust anchor) and its key, made
// with the openssl program into folder.
struct TestCertificate {
    std::string certPath;
    std::string keyPath;
};
TestCertificate makeTestCertificate(const std::string& folder);

// Runs body in a forked child and returns the text it produced, or "exception: <what>" when it
// threw, or "child failed: ..." when it died or took longer than the limit. unprivileged drops
// root to the user nobody first, so that file permissions bind as they do for a player.
std::string runInChild(const std::function<std::string()>& body, bool unprivileged = false,
                       std::chrono::seconds limit = std::chrono::seconds(20));

// The user id the unprivileged child runs as (nobody), or our own when we are not root.
unsigned unprivilegedUid();

} // namespace orvanta::fault
