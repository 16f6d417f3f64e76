// Ranged GETs over libcurl: one easy handle for the fetcher's life, whose connection cache keeps
// the connection open from one request to the next.
#include "platform/http_ranges.hpp"

#include "platform/header_text.hpp"
#include "platform/http.hpp"
#include "platform/posix/http_curl.hpp"
#include "platform/transfer_pace.hpp"
#include "platform/url.hpp"

#include <chrono>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>

namespace orvanta {

struct RangeFetcher::State {
    EasyHandle handle{curlReady() ? curl_easy_init() : nullptr};
    TransferPace pace;
    bool paceWatched = false;
};

namespace {

constexpr long rangeBufferBytes = 256L * 1024L;

// The state one ranged request shares with its curl callbacks.
struct RangeRequest {
    CURL* handle = nullptr;
    TransferPace* pace = nullptr;
    const RangeFetcher::Write* write = nullptr;
    ByteRange range{};

    bool redirecting = false; // the response being read names a Location that curl follows
    bool headersDone = false; // the header block of the response that ends the chain arrived
    int contentRanges = 0;    // Content-Range headers of the response being read
    bool rangeMatches = false;
    bool accepted = false; // that response is exactly the range asked for
    bool refused = false;  // it is an answer, but not the range asked for
    std::uint64_t received = 0;
    std::exception_ptr callbackError;

    std::uint64_t length() const { return range.last - range.first + 1; }
};

std::size_t onRangeHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& request = *static_cast<RangeRequest*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    request.pace->arrived(bytes, TransferPace::Clock::now());

    if (line.starts_with("HTTP/")) {
        request.redirecting = false;
        request.headersDone = false;
        request.contentRanges = 0;
        request.rangeMatches = false;
        return bytes;
    }
    if (request.headersDone) {
        return bytes; // trailers after a chunked body
    }
    if (line == "\r\n" || line == "\n") {
        const long status = responseCode(request.handle);
        if (status < 200 || request.redirecting) {
            return bytes;
        }
        request.headersDone = true;
        // Anything but the range asked for, a whole file answered 200 among them, ends the
        // transfer before a byte of its body reaches the caller.
        request.accepted = status == 206 && request.contentRanges == 1 && request.rangeMatches;
        request.refused = !request.accepted;
        return request.accepted ? bytes : 0;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
        return bytes;
    }
    const std::string_view name = trimmed(line.substr(0, colon));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (equalsIgnoringCase(name, "location")) {
        const long status = responseCode(request.handle);
        if (status >= 300 && status <= 399) {
            request.redirecting = true;
            if (!redirectKeepsTls(request.handle, value)) {
                request.refused = true;
                return 0;
            }
        }
    } else if (equalsIgnoringCase(name, "content-range")) {
        ++request.contentRanges;
        request.rangeMatches = contentRangeIs(value, request.range);
    }
    return bytes;
}

std::size_t onRangeData(char* data, std::size_t size, std::size_t count, void* user) {
    auto& request = *static_cast<RangeRequest*>(user);
    const std::size_t bytes = size * count;
    request.pace->arrived(bytes, TransferPace::Clock::now());
    if (!request.accepted) {
        return bytes; // the body of a redirect curl reads past
    }
    // A byte past the range means the server sends something else than it announced: stop
    // before the caller sees any of it.
    if (bytes > request.length() - request.received) {
        request.refused = true;
        return 0;
    }
    try {
        if (!(*request.write)(data, bytes)) {
            return 0;
        }
    } catch (...) {
        // An exception must not unwind through libcurl: keep it and rethrow after the transfer.
        request.callbackError = std::current_exception();
        return 0;
    }
    request.received += bytes;
    return bytes;
}

int onRangeProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& request = *static_cast<RangeRequest*>(user);
    return request.pace->fellBehind(TransferPace::Clock::now()) ? 1 : 0;
}

// The range of length bytes from first on; none when it is empty or ends past what an HTTP
// length can say.
std::optional<ByteRange> rangeOf(std::uint64_t first, std::uint64_t length) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<curl_off_t>::max());
    if (length == 0 || first > largest || length - 1 > largest - first) {
        return std::nullopt;
    }
    return ByteRange{first, first + length - 1};
}

} // namespace

RangeFetcher::RangeFetcher() : state_(std::make_unique<State>()) {}

RangeFetcher::~RangeFetcher() = default;

RangeResult RangeFetcher::fetchRange(const std::string& url, std::uint64_t first,
                                     std::uint64_t length, const Write& write) {
    const auto range = rangeOf(first, length);
    const auto parsed = parseUrl(url);
    CURL* handle = state_->handle.get();
    if (!range || !parsed || handle == nullptr) {
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

    RangeRequest request;
    request.handle = handle;
    request.pace = &state_->pace;
    request.write = &write;
    request.range = *range;
    const std::string bytes = std::to_string(range->first) + "-" + std::to_string(range->last);
    void* data = &request;
    if (!setRequestOptions(handle, *parsed) ||
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_RANGE, bytes.c_str()) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &onRangeHeader) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &onRangeData) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, rangeBufferBytes) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onRangeProgress) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, data) != CURLE_OK ||
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) != CURLE_OK) {
        return RangeResult::failed;
    }
    const CURLcode result = curl_easy_perform(handle);
    state_->pace.pause(TransferPace::Clock::now());
    if (request.callbackError) {
        std::rethrow_exception(request.callbackError);
    }
    if (request.refused) {
        return RangeResult::refused;
    }
    // A body that ends early is short of the range even when its Content-Length agreed.
    return result == CURLE_OK && request.accepted && request.received == length
               ? RangeResult::fetched
               : RangeResult::failed;
}

} // namespace orvanta
