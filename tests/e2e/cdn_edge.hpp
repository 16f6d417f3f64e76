#pragma once

// A CDN in miniature for the end-to-end tests: an origin nginx serving the channel over plain
// HTTP, a Varnish cache in front of it, and an nginx that takes the launcher's HTTPS and hands
// every request to Varnish as it is.

#include "e2e_support.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace orvanta::e2e {

// The first server block of an nginx configuration (packaging/nginx-orvanta.conf), comments
// dropped, made to listen on plain HTTP at 127.0.0.1:port and serve siteRoot: its locations and
// headers stay as a studio would deploy them. error says what did not fit that shape.
struct OriginServer {
    std::string servers;
    std::string error;
};
OriginServer originFromSample(const std::string& sample, const std::string& siteRoot, int port);

// An HTTPS server block on 127.0.0.1:port that passes every request, its Range and Cache-Control
// included, to the cache at edgePort, and its answer back unchanged. With resetPacks, requests
// for .pack files get their connection closed instead, as a failing host does.
std::string tlsFrontServer(const std::string& certPath, const std::string& keyPath, int port,
                           int edgePort, bool resetPacks);

// varnishd in the foreground, listening on 127.0.0.1:port, filling its cache from the origin at
// originPort, with its state, configuration and output in workDirectory.
class Varnish {
  public:
    Varnish(std::string workDirectory, int port, int originPort);
    ~Varnish();
    Varnish(const Varnish&) = delete;
    Varnish& operator=(const Varnish&) = delete;

    // From the next start, the channel's file of that name (manifest.json, manifest.json.sig) is
    // kept for ttl whatever its Cache-Control says, as an edge set to cache everything does.
    void hold(std::string file, std::chrono::seconds ttl) {
        heldFile_ = std::move(file);
        heldFor_ = ttl;
    }
    // Starts the cache and waits until it serves; the error text on failure.
    std::string start();
    void stop();
    std::string output() const;

  private:
    std::string workDirectory_;
    int port_;
    int originPort_;
    std::string heldFile_;
    std::chrono::seconds heldFor_{0};
    std::optional<Process> server_;
};

// A plain HTTP/1.0 GET of path from 127.0.0.1:port, as tlsFrontServer passes requests on;
// status 0 when no answer came.
struct PlainAnswer {
    int status = 0;
    std::string body;
};
PlainAnswer plainGet(int port, const std::string& path);

} // namespace orvanta::e2e
