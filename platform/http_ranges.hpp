#pragma once

#include "platform/header_text.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvanta {

// Ranged GETs of pieces of static files, for one update. The fetcher asks for many ranges in one
// request and keeps a few requests in flight, over the process's kept connections, so scattered
// pieces cost few round trips and no new handshake. A server that answers a request of several
// ranges with one range or the whole file is asked one range per request from then on, for the
// fetcher's life. Its requests go as a
// download's do: same user agent, trust, redirect rules and connect timeout. The pace floor of
// httpLimits() watches the fetcher's requests from the first on as if they were one download, the
// caller's time between them (copying from disk, say) left out: once it falls behind, every later
// request fails too.
// How a ranged GET ended: with exactly the range; with an answer that is not the range (a whole
// file answered 200, another range, an error status, a longer body), which asking again will not
// mend; or without a whole answer (no connection, a cut or slow transfer, write refused).
enum class RangeResult { fetched, refused, failed };

class RangeFetcher {
  public:
    using Write = std::function<bool(const char* data, std::size_t size)>;

    RangeFetcher();
    ~RangeFetcher();
    RangeFetcher(const RangeFetcher&) = delete;
    RangeFetcher& operator=(const RangeFetcher&) = delete;

    // GET of the length bytes from first on (length at least 1) of url, each piece handed to
    // write as it arrives. Fetched only for a 206 answer whose Content-Range names exactly that
    // range and whose body brought exactly length bytes, all taken by write. A body that is not
    // that range never reaches write, and write never receives more than length bytes.
    RangeResult fetchRange(const std::string& url, std::uint64_t first, std::uint64_t length,
                           const Write& write);

    // GETs of the ranges of url (ascending, without overlaps), their bytes handed to write in
    // that order, each byte once, whatever order the server sends them in. Fetched once every
    // range came whole; refused as soon as an answer is not the ranges asked for (one range at a
    // time refused too); failed as for one range. write never receives a byte outside them.
    RangeResult fetchRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                            const Write& write);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace orvanta
