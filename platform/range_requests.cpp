#include "platform/range_requests.hpp"

#include "platform/http_ranges.hpp"

#include <limits>
#include <utility>

namespace orvanta {

namespace {

// Room a multipart body may take beside the ranges' bytes: per part its delimiter and headers,
// and once the preamble and the closing delimiter. Anything longer is not the answer asked for.
constexpr std::uint64_t partOverheadBytes = 4096;
constexpr std::uint64_t bodyOverheadBytes = 4096;

std::uint64_t lengthOf(const ByteRange& range) {
    return range.last - range.first + 1;
}

} // namespace

bool rangesAreValid(const std::vector<ByteRange>& ranges, std::uint64_t largest) {
    if (ranges.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        if (ranges[i].first > ranges[i].last || ranges[i].last > largest ||
            (i > 0 && ranges[i].first <= ranges[i - 1].last)) {
            return false;
        }
    }
    return true;
}

std::size_t requestEnd(const std::vector<ByteRange>& ranges, std::size_t first, bool single) {
    std::size_t end = first + 1;
    if (single) {
        return end;
    }
    std::size_t chars = rangeHeaderValue(ranges, first, end).size();
    std::uint64_t bytes = lengthOf(ranges[first]);
    while (end < ranges.size() && end - first < maxRangesPerRequest) {
        const std::size_t more = rangeHeaderValue(ranges, end, end + 1).size() - 5; // ",a-b"
        const std::uint64_t length = lengthOf(ranges[end]);
        if (chars + more > maxRangeHeaderChars || bytes >= maxManyRangeBytes ||
            length > maxManyRangeBytes - bytes) {
            break;
        }
        chars += more;
        bytes += length;
        ++end;
    }
    return end;
}

std::string rangeHeaderValue(const std::vector<ByteRange>& ranges, std::size_t first,
                             std::size_t end) {
    std::string value = "bytes=";
    for (std::size_t i = first; i < end; ++i) {
        if (i > first) {
            value += ',';
        }
        value += std::to_string(ranges[i].first) + "-" + std::to_string(ranges[i].last);
    }
    return value;
}

RangeAnswer::RangeAnswer(std::vector<ByteRange> asked, Write write)
    : asked_(std::move(asked)), write_(std::move(write)) {
    for (const ByteRange& range : asked_) {
        askedBytes_ += lengthOf(range);
    }
}

RangeAnswer::~RangeAnswer() = default;

void RangeAnswer::startResponse() {
    contentRanges_ = 0;
    rangeMatches_ = false;
    boundary_.reset();
}

void RangeAnswer::header(std::string_view name, std::string_view value) {
    if (equalsIgnoringCase(name, "content-range")) {
        ++contentRanges_;
        rangeMatches_ = asked_.size() == 1 && contentRangeIs(value, asked_.front());
    } else if (equalsIgnoringCase(name, "content-type")) {
        boundary_ = byterangesBoundary(value);
    }
}

RangeAnswer::Verdict RangeAnswer::headersEnd(long status) {
    if (asked_.size() == 1) {
        verdict_ = status == 206 && contentRanges_ == 1 && rangeMatches_ ? Verdict::accepted
                                                                         : Verdict::refused;
        mostBodyBytes_ = askedBytes_;
        return verdict_;
    }
    if (status == 206 && contentRanges_ == 0 && boundary_) {
        verdict_ = Verdict::accepted;
        mostBodyBytes_ = askedBytes_ + asked_.size() * partOverheadBytes + bodyOverheadBytes;
        parts_ = std::make_unique<MultipartRanges>(asked_, *boundary_, write_);
        return verdict_;
    }
    // A server that answers one range at a time, or none, gives the whole file or a single
    // range here, and some caches (Varnish) 416 although every range lies in the file: asking
    // range by range may still work (and a range truly past the end is refused then). Anything
    // else will not.
    verdict_ = status == 200 || status == 416 || (status == 206 && contentRanges_ == 1)
                   ? Verdict::oneAtATime
                   : Verdict::refused;
    return verdict_;
}

bool RangeAnswer::body(const char* data, std::size_t size) {
    if (verdict_ != Verdict::accepted) {
        return false;
    }
    // A byte past what was asked means the server sends something else than it announced: stop
    // before the caller sees any of it.
    if (size > mostBodyBytes_ - received_) {
        verdict_ = Verdict::refused;
        return false;
    }
    received_ += size;
    if (!parts_) {
        return write_(data, size);
    }
    if (!parts_->feed(data, size)) {
        if (parts_->malformed()) {
            verdict_ = Verdict::refused;
        }
        return false;
    }
    return true;
}

bool RangeAnswer::complete() const {
    if (verdict_ != Verdict::accepted) {
        return false;
    }
    return parts_ ? parts_->complete() : received_ == askedBytes_;
}

RangeResult RangeFetcher::fetchRange(const std::string& url, std::uint64_t first,
                                     std::uint64_t length, const Write& write) {
    if (length == 0 || first > std::numeric_limits<std::uint64_t>::max() - (length - 1)) {
        return RangeResult::failed;
    }
    return fetchRanges(url, {ByteRange{first, first + length - 1}}, write);
}

} // namespace orvanta
