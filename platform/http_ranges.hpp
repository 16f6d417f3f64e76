#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvanta {

// Ranged GETs of pieces of static files, for one update. The fetcher keeps its connection between
// requests where the server allows, so many small ranges cost one handshake. Its requests go as a
// download's do: same user agent, trust, redirect rules and connect timeout. The pace floor of
// httpLimits() watches the fetcher's whole life from its first request on, as if all its requests
// were one download: once it falls behind, every later request fails too.
class RangeFetcher {
  public:
    using Write = std::function<bool(const char* data, std::size_t size)>;

    RangeFetcher();
    ~RangeFetcher();
    RangeFetcher(const RangeFetcher&) = delete;
    RangeFetcher& operator=(const RangeFetcher&) = delete;

    // GET of the length bytes from first on (length at least 1) of url, each piece handed to
    // write as it arrives. True only for a 206 answer whose Content-Range names exactly that range
    // and whose body brought exactly length bytes, all taken by write. Otherwise false: a body that
    // is not that range (a whole file answered 200, another range) never reaches write, and write
    // never receives more than length bytes.
    bool fetchRange(const std::string& url, std::uint64_t first, std::uint64_t length,
                    const Write& write);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace orvanta
