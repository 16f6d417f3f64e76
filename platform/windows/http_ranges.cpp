// Ranged GETs over WinHTTP: over the thread's kept connections, with one exchange whose pace and
// trust last as long as the fetcher. Requests go one after another,
// each asking for as many ranges as the server takes.
#include "platform/http_ranges.hpp"

#include "platform/header_text.hpp"
#include "platform/http.hpp"
#include "platform/range_requests.hpp"
#include "platform/windows/http_transfer.hpp"

#include <chrono>
#include <limits>

namespace orvanta {

struct RangeFetcher::State {
    Exchange exchange;
    bool paceWatched = false;
    bool oneAtATime = false; // the server answered a request of several ranges with one or none
};

RangeFetcher::RangeFetcher() : state_(std::make_unique<State>()) {
    state_->exchange.kind = Exchange::Kind::File;
    state_->exchange.keepConnection = true;
}

RangeFetcher::~RangeFetcher() = default;

RangeResult RangeFetcher::fetchRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                                      const Write& write) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!rangesAreValid(ranges, largest)) {
        return RangeResult::failed;
    }
    Exchange& exchange = state_->exchange;
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
    // The caller's time with the bytes does not count towards the pace.
    const RangeAnswer::Write paced = [&](const char* data, std::size_t size) {
        exchange.pace.pause(HttpClock::now());
        const bool taken = write(data, size);
        exchange.pace.resume(HttpClock::now());
        return taken;
    };
    for (std::size_t first = 0; first < ranges.size();) {
        const std::size_t end = requestEnd(ranges, first, state_->oneAtATime);
        RangeAnswer answer(
            std::vector<ByteRange>(ranges.begin() + static_cast<std::ptrdiff_t>(first),
                                   ranges.begin() + static_cast<std::ptrdiff_t>(end)),
            paced);
        exchange.restart();
        exchange.pace.resume(HttpClock::now());
        exchange.rangeAnswer = &answer;
        exchange.headerLines = {"Range: " + rangeHeaderValue(ranges, first, end)};
        bool taken = true;
        const DownloadSink sink{[] { return true; },
                                [&](const char* data, std::size_t size) {
                                    taken = answer.body(data, size);
                                    return taken;
                                }};
        ProgressCallback noProgress;
        exchange.sink = &sink;
        exchange.progress = &noProgress;
        const bool whole = perform(exchange, threadLink(), url);
        exchange.sink = nullptr;
        exchange.progress = nullptr;
        exchange.rangeAnswer = nullptr;
        exchange.pace.pause(HttpClock::now());
        if (answer.verdict() == RangeAnswer::Verdict::oneAtATime && !state_->oneAtATime) {
            state_->oneAtATime = true; // the same ranges again, one per request
            continue;
        }
        if (exchange.refused || answer.verdict() == RangeAnswer::Verdict::refused) {
            return RangeResult::refused;
        }
        // A body that ends early is short of the ranges even when its length agreed.
        if (!whole || !taken || !exchange.sinkOpen || exchange.sinkFailed || !answer.complete()) {
            return RangeResult::failed;
        }
        first = end;
    }
    return RangeResult::fetched;
}

} // namespace orvanta
