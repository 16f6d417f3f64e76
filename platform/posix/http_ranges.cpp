// Ranged GETs over libcurl's multi interface: a few requests in flight at once on the calling
// thread, over the process's kept connections (HTTP/2 streams where the server offers them).
#include "platform/http_ranges.hpp"

#include "platform/header_text.hpp"
#include "platform/http.hpp"
#include "platform/posix/http_curl.hpp"
#include "platform/range_requests.hpp"
#include "platform/transfer_pace.hpp"
#include "platform/url.hpp"

#include <chrono>
#include <deque>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>

namespace orvanta {

namespace {

struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

constexpr long rangeBufferBytes = 256L * 1024L;
// Requests in flight at once, and connections to one host. Over HTTP/2 the requests are
// streams of one connection, and enough of them hide the round trips of a server that answers one
// range per request; over HTTP/1.1 they wait their turn for one of a pool of connections, as
// large as download tools open to object stores. A server that takes many ranges a request
// needs few of them.
constexpr std::size_t maxInFlight = 64;
constexpr long maxHostConnections = 16;
// What requests ahead of the one being written may hold in memory before their turn.
constexpr std::uint64_t maxHeldBytes = 32ULL << 20;
constexpr int pollMilliseconds = 250;

} // namespace

struct RangeFetcher::State {
    MultiHandle multi{curlReady() ? curl_multi_init() : nullptr};
    TransferPace pace;
    bool paceWatched = false;
    bool oneAtATime = false; // the server answered a request of several ranges with one or none
};

namespace {

// One request in flight and the state its curl callbacks share.
struct RangeRequest {
    RangeRequest(CURLM* owner, std::vector<ByteRange> ranges, std::size_t first,
                 TransferPace& transferPace)
        : multi(owner), firstRange(first), rangeCount(ranges.size()), pace(transferPace),
          answer(std::move(ranges),
                 [this](const char* data, std::size_t size) { return take(data, size); }) {}
    ~RangeRequest() {
        if (added) {
            curl_multi_remove_handle(multi, handle.get());
        }
    }
    RangeRequest(const RangeRequest&) = delete;
    RangeRequest& operator=(const RangeRequest&) = delete;

    // The bytes of the asked ranges, in order: straight to the caller for the request being
    // written, held until its turn for any other.
    bool take(const char* data, std::size_t size) {
        if (writer == nullptr) {
            held.append(data, size);
            return true;
        }
        pace.pause(TransferPace::Clock::now());
        const bool taken = (*writer)(data, size);
        pace.resume(TransferPace::Clock::now());
        return taken;
    }

    // Makes this the request being written: what it holds goes first.
    bool startWriting(const RangeFetcher::Write& write) {
        writer = &write;
        std::string bytes;
        bytes.swap(held);
        return bytes.empty() || take(bytes.data(), bytes.size());
    }

    CURLM* multi;
    std::size_t firstRange;
    std::size_t rangeCount;
    TransferPace& pace;
    RangeAnswer answer;
    EasyHandle handle{curl_easy_init()};
    std::string rangeValue;
    bool added = false;
    bool redirecting = false; // the response being read names a Location that curl follows
    bool headersDone = false; // the header block of the response that ends the chain arrived
    bool finished = false;
    CURLcode result = CURLE_OK;
    const RangeFetcher::Write* writer = nullptr;
    std::string held;
    std::exception_ptr callbackError;
};

std::size_t onRangeHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& request = *static_cast<RangeRequest*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    request.pace.arrived(bytes, TransferPace::Clock::now());

    if (line.starts_with("HTTP/")) {
        request.redirecting = false;
        request.headersDone = false;
        request.answer.startResponse();
        return bytes;
    }
    if (request.headersDone) {
        return bytes; // trailers after a chunked body
    }
    if (line == "\r\n" || line == "\n") {
        const long status = responseCode(request.handle.get());
        if (status < 200 || request.redirecting) {
            return bytes;
        }
        request.headersDone = true;
        // Anything but the ranges asked for, a whole file answered 200 among them, ends the
        // transfer before a byte of its body reaches the caller.
        return request.answer.headersEnd(status) == RangeAnswer::Verdict::accepted ? bytes : 0;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return bytes;
    }
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (equalsIgnoringCase(name, "location")) {
        const long status = responseCode(request.handle.get());
        if (status >= 300 && status <= 399) {
            request.redirecting = true;
            if (!redirectKeepsTls(request.handle.get(), value)) {
                request.answer.headersEnd(0); // refused: no redirect away from https
                return 0;
            }
        }
    } else {
        request.answer.header(name, value);
    }
    return bytes;
}

std::size_t onRangeData(char* data, std::size_t size, std::size_t count, void* user) {
    auto& request = *static_cast<RangeRequest*>(user);
    const std::size_t bytes = size * count;
    request.pace.arrived(bytes, TransferPace::Clock::now());
    if (!request.headersDone) {
        return bytes; // the body of a redirect curl reads past
    }
    try {
        return request.answer.body(data, bytes) ? bytes : 0;
    } catch (...) {
        // An exception must not unwind through libcurl: keep it and rethrow after the transfer.
        request.callbackError = std::current_exception();
        return 0;
    }
}

int onRangeProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& request = *static_cast<RangeRequest*>(user);
    return request.pace.fellBehind(TransferPace::Clock::now()) ? 1 : 0;
}

bool startRequest(RangeRequest& request, const Url& url, CURLM* multi,
                  const std::vector<ByteRange>& ranges) {
    CURL* handle = request.handle.get();
    request.rangeValue = rangeHeaderValue(ranges, request.firstRange,
                                          request.firstRange + request.rangeCount)
                             .substr(6); // "bytes=" is curl's to add
    void* data = &request;
    if (handle == nullptr || !setRequestOptions(handle, url) ||
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_RANGE, request.rangeValue.c_str()) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &onRangeHeader) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &onRangeData) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, rangeBufferBytes) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onRangeProgress) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_PRIVATE, data) != CURLE_OK ||
        // Waits for a connection being set up to tell whether it carries several streams,
        // rather than opening another one beside it.
        curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L) != CURLE_OK) {
        return false;
    }
    request.added = curl_multi_add_handle(multi, handle) == CURLM_OK;
    return request.added;
}

// Marks the requests curl has finished.
void collectFinished(CURLM* multi) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        void* data = nullptr;
        if (message->msg == CURLMSG_DONE &&
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &data) == CURLE_OK &&
            data != nullptr) {
            auto& request = *static_cast<RangeRequest*>(data);
            request.finished = true;
            request.result = message->data.result;
        }
    }
}

} // namespace

RangeFetcher::RangeFetcher() : state_(std::make_unique<State>()) {}

RangeFetcher::~RangeFetcher() = default;

RangeResult RangeFetcher::fetchRanges(const std::string& url, const std::vector<ByteRange>& ranges,
                                      const Write& write) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max());
    const auto parsed = parseUrl(url);
    CURLM* multi = state_->multi.get();
    if (!rangesAreValid(ranges, largest) || !parsed || multi == nullptr ||
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, maxHostConnections) != CURLM_OK) {
        return RangeResult::failed;
    }
    const HttpLimits& limits = httpLimits();
    if (!state_->paceWatched && limits.averageWindowSeconds > 0 &&
        limits.minimumAverageBytesPerSecond > 0) {
        state_->pace.watch(TransferPace::Clock::now(),
                           std::chrono::seconds(limits.averageWindowSeconds),
                           limits.minimumAverageBytesPerSecond *
                               static_cast<std::uint64_t>(limits.averageWindowSeconds));
    }
    state_->paceWatched = true;
    state_->pace.resume(TransferPace::Clock::now());
    struct PauseAtEnd {
        TransferPace& pace;
        ~PauseAtEnd() { pace.pause(TransferPace::Clock::now()); }
    } pauseAtEnd{state_->pace};

    // In the order of their ranges; the first is the one being written.
    std::deque<std::unique_ptr<RangeRequest>> flight;
    std::size_t next = 0; // the first range no request asks for yet
    std::uint64_t held = 0;
    for (;;) {
        while (flight.size() < maxInFlight && next < ranges.size()) {
            const std::size_t end = requestEnd(ranges, next, state_->oneAtATime);
            auto request = std::make_unique<RangeRequest>(
                multi,
                std::vector<ByteRange>(ranges.begin() + static_cast<std::ptrdiff_t>(next),
                                       ranges.begin() + static_cast<std::ptrdiff_t>(end)),
                next, state_->pace);
            const std::uint64_t bytes = request->answer.askedBytes();
            if (!flight.empty() && bytes > maxHeldBytes - std::min(held, maxHeldBytes)) {
                break;
            }
            if (!startRequest(*request, *parsed, multi, ranges)) {
                return RangeResult::failed;
            }
            if (flight.empty()) {
                request->writer = &write;
            } else {
                held += bytes;
            }
            flight.push_back(std::move(request));
            next = end;
        }
        if (flight.empty()) {
            return RangeResult::fetched;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            return RangeResult::failed;
        }
        collectFinished(multi);
        for (const auto& request : flight) {
            if (request->callbackError) {
                std::rethrow_exception(request->callbackError);
            }
        }
        while (!flight.empty() && flight.front()->finished) {
            RangeRequest& done = *flight.front();
            if (done.answer.verdict() == RangeAnswer::Verdict::oneAtATime && !state_->oneAtATime) {
                // From here on, one range per request, for the rest of the update.
                state_->oneAtATime = true;
                next = done.firstRange;
                flight.clear();
                held = 0;
                break;
            }
            if (done.answer.verdict() != RangeAnswer::Verdict::accepted &&
                done.answer.verdict() != RangeAnswer::Verdict::pending) {
                return RangeResult::refused;
            }
            // A body that ends early is short of the ranges even when its length agreed.
            if (done.result != CURLE_OK || !done.answer.complete()) {
                return RangeResult::failed;
            }
            flight.pop_front();
            if (!flight.empty()) {
                held -= std::min(held, flight.front()->answer.askedBytes());
                if (!flight.front()->startWriting(write)) {
                    return RangeResult::failed;
                }
            }
        }
        if (!flight.empty() && running > 0 &&
            curl_multi_poll(multi, nullptr, 0, pollMilliseconds, nullptr) != CURLM_OK) {
            return RangeResult::failed;
        }
    }
}

} // namespace orvanta
