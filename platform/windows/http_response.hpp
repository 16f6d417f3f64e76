#pragma once

// The state of one Windows transfer, and the reading of its final response.
#include "platform/header_text.hpp"
#include "platform/http.hpp"
#include "platform/range_requests.hpp"
#include "platform/transfer_pace.hpp"
#include "platform/windows/http_async.hpp"
#include "platform/windows/http_trust.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

// The state one transfer keeps across its requests (one per redirect).
struct Exchange {
    enum class Kind { Text, File };

    Kind kind = Kind::Text;
    std::string verb = "GET";
    std::vector<std::string> headerLines;
    const std::string* body = nullptr; // none for GET downloads and text requests without one

    HttpLimits limits;
    HttpClock::time_point textDeadline = HttpClock::time_point::max();
    TransferPace pace;
    Trust trust;
    bool trustLoaded = false;

    bool keepConnection = false; // leave the connection open for the next transfer on its link
    // A ranged GET: its answer judges the final response's headers; a body it does not accept
    // is never read.
    RangeAnswer* rangeAnswer = nullptr;

    bool headersDone = false; // the headers of the response that ends the chain arrived
    bool refused = false;     // a redirect not to follow, a text over the limit, another range
    DWORD status = 0;

    // Kind::Text
    std::string text;

    // Kind::File
    const DownloadSink* sink = nullptr;
    ProgressCallback* progress = nullptr;
    bool sinkOpen = false;
    bool sinkFailed = false;
    std::uint64_t received = 0;
    std::uint64_t total = 0;

    // Readies a kept exchange for its next transfer: what the last one found goes; the limits,
    // the pace and the trust stay.
    void restart() {
        headersDone = false;
        refused = false;
        status = 0;
        text.clear();
        sinkOpen = false;
        sinkFailed = false;
        received = 0;
        total = 0;
    }

    // When the transfer ends if the operation waited for has not completed: the end of a text
    // request's time, or the moment a download's average pace would fall below the floor if
    // nothing more came.
    HttpClock::time_point deadline() const { return std::min(textDeadline, pace.deadline()); }
};

// The transfer's socket timeouts for its next operation, and its wait for that operation: both up
// to the transfer's deadline.
inline bool limitSockets(HINTERNET request, const Exchange& exchange) {
    return limitSockets(request, exchange.limits.connectTimeoutSeconds, exchange.deadline());
}
inline bool completed(Completion& completion, const Exchange& exchange) {
    return completed(completion, exchange.deadline());
}

// A header of the response, by WinHTTP's query; none when the response has none.
std::optional<std::wstring> responseHeader(HINTERNET request, DWORD query);

// The size of the response's header block, as it counts towards a download's pace.
std::size_t rawHeaderBytes(HINTERNET request);

// Reads the final response's body to its end, into the text or the sink. True when it came whole
// and was taken.
bool readBody(Exchange& exchange, HINTERNET request, Completion& completion, bool bodyExpected);

} // namespace orvanta
