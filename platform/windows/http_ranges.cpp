// Ranged GETs over WinHTTP: one session and connection for the fetcher's life, kept alive between
// requests, and one exchange whose pace and trust last as long.
#include "platform/http_ranges.hpp"

#include "platform/header_text.hpp"
#include "platform/http.hpp"
#include "platform/windows/http_transfer.hpp"

#include <chrono>
#include <limits>

namespace orvanta {

struct RangeFetcher::State {
    Link link;
    Exchange exchange;
    bool paceWatched = false;
};

RangeFetcher::RangeFetcher() : state_(std::make_unique<State>()) {
    state_->exchange.kind = Exchange::Kind::File;
    state_->exchange.keepConnection = true;
}

RangeFetcher::~RangeFetcher() = default;

RangeResult RangeFetcher::fetchRange(const std::string& url, std::uint64_t first,
                                     std::uint64_t length, const Write& write) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (length == 0 || first > largest || length - 1 > largest - first) {
        return RangeResult::failed;
    }
    const ByteRange range{first, first + length - 1};
    Exchange& exchange = state_->exchange;
    exchange.restart();
    if (!state_->paceWatched) {
        state_->paceWatched = true;
        exchange.limits = httpLimits();
        if (exchange.limits.averageWindowSeconds > 0 &&
            exchange.limits.minimumAverageBytesPerSecond > 0) {
            exchange.pace.watch(
                HttpClock::now(), std::chrono::seconds(exchange.limits.averageWindowSeconds),
                exchange.limits.minimumAverageBytesPerSecond *
                    static_cast<std::uint64_t>(exchange.limits.averageWindowSeconds));
        }
    }
    exchange.pace.resume(HttpClock::now());
    exchange.range = range;
    exchange.headerLines = {"Range: bytes=" + std::to_string(range.first) + "-" +
                            std::to_string(range.last)};

    std::uint64_t taken = 0;
    bool longer = false;
    // A byte past the range means the server sends something else than it announced: stop
    // before the caller sees any of it.
    const DownloadSink sink{[] { return true; },
                            [&](const char* data, std::size_t size) {
                                if (size > length - taken) {
                                    longer = true;
                                    return false;
                                }
                                if (!write(data, size)) {
                                    return false;
                                }
                                taken += size;
                                return true;
                            }};
    ProgressCallback noProgress;
    exchange.sink = &sink;
    exchange.progress = &noProgress;
    const bool whole = perform(exchange, state_->link, url);
    exchange.sink = nullptr;
    exchange.progress = nullptr;
    exchange.pace.pause(HttpClock::now());
    if (exchange.refused || longer) {
        return RangeResult::refused;
    }
    // A body that ends early is short of the range even when its Content-Length agreed.
    return whole && exchange.sinkOpen && !exchange.sinkFailed && taken == length
               ? RangeResult::fetched
               : RangeResult::failed;
}

} // namespace orvanta
