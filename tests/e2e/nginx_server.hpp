#pragma once

#include "e2e_support.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace orvanta::e2e {

// nginx serving siteRoot over HTTPS on 127.0.0.1:port, configured and logging in workDirectory.
class Nginx {
  public:
    Nginx(std::string workDirectory, std::string siteRoot, std::string certPath,
          std::string keyPath, int port);
    ~Nginx();
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    // From the next start, .pack files are sent at most at rate (nginx's limit_rate, e.g. "1m");
    // empty for no limit.
    void limitPackRate(std::string rate) { packRate_ = std::move(rate); }
    // From the next start, a request for several ranges is answered with the whole file, as
    // servers that take one range per request do.
    void oneRangePerRequest() { oneRange_ = true; }
    // From the next start, these server blocks (nginx configuration text) are served instead of
    // the site; start() still waits for port. Empty for the site again.
    void useServers(std::string servers) { servers_ = std::move(servers); }
    // Starts the server and waits until it accepts connections; the error text on failure.
    std::string start();
    void stop();
    std::string accessLog() const;
    // Requests in the access log whose request line contains text.
    int requestsFor(const std::string& text) const;
    // Body bytes sent in answer to those requests.
    std::uint64_t bytesSentFor(const std::string& text) const;

  private:
    std::string workDirectory_;
    std::string siteRoot_;
    std::string certPath_;
    std::string keyPath_;
    int port_;
    std::string packRate_;
    bool oneRange_ = false;
    std::string servers_;
    std::optional<Process> server_;
};

} // namespace orvanta::e2e
