#pragma once

// What both platforms' range fetchers share: how the ranges of a fetch are grouped into requests
// and how one request's answer is judged and read.
#include "platform/header_text.hpp"
#include "platform/multipart_ranges.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

// At most this many ranges, this long a Range header, this many bytes in one request: servers
// cap the ranges of a request (Apache at 200) and the length of a header line (8 KiB is common),
// and the bytes of a request that arrives ahead of its turn are held in memory.
constexpr std::size_t maxRangesPerRequest = 200;
constexpr std::size_t maxRangeHeaderChars = 6000;
constexpr std::uint64_t maxManyRangeBytes = 8ULL << 20;

// True when ranges is not empty, ascending, without overlaps, and every last byte fits in an
// HTTP length (at most largest).
bool rangesAreValid(const std::vector<ByteRange>& ranges, std::uint64_t largest);

// Where the request that starts at ranges[first] ends: one range when single, else as many as
// the caps above allow (always at least one).
std::size_t requestEnd(const std::vector<ByteRange>& ranges, std::size_t first, bool single);

// The value of the Range header asking for ranges[first] to ranges[end - 1]: "bytes=a-b,c-d".
std::string rangeHeaderValue(const std::vector<ByteRange>& ranges, std::size_t first,
                             std::size_t end);

// The answer to one ranged request: the headers of the response that ends the redirect chain,
// then its body. The bytes of the asked ranges reach write in the order asked, and nothing else
// does: a single range must come as exactly that 206, several as a multipart/byteranges 206
// holding each exactly once.
class RangeAnswer {
  public:
    using Write = std::function<bool(const char* data, std::size_t size)>;
    enum class Verdict {
        pending,    // the headers are not all in
        accepted,   // the body is the ranges asked for, as far as the headers tell
        oneAtATime, // several ranges asked, one range, the whole file or 416 answered
        refused     // an answer, but not the ranges asked for
    };

    RangeAnswer(std::vector<ByteRange> asked, Write write);
    ~RangeAnswer();
    RangeAnswer(const RangeAnswer&) = delete;
    RangeAnswer& operator=(const RangeAnswer&) = delete;

    // A new response starts (the first, or one after a redirect): its headers replace any
    // earlier one's.
    void startResponse();
    void header(std::string_view name, std::string_view value);
    Verdict headersEnd(long status);
    Verdict verdict() const { return verdict_; }
    // The next bytes of the accepted body; false once they are not the ranges asked for
    // (the verdict turns to refused) or write returned false.
    bool body(const char* data, std::size_t size);
    // Every asked byte went to write, and nothing else came.
    bool complete() const;
    std::uint64_t askedBytes() const { return askedBytes_; }

  private:
    std::vector<ByteRange> asked_;
    Write write_;
    std::uint64_t askedBytes_ = 0;
    Verdict verdict_ = Verdict::pending;
    int contentRanges_ = 0;
    bool rangeMatches_ = false;
    std::optional<std::string> boundary_;
    std::unique_ptr<MultipartRanges> parts_;
    std::uint64_t received_ = 0;      // body bytes so far
    std::uint64_t mostBodyBytes_ = 0; // the most a well-formed body can hold
};

} // namespace orvanta
