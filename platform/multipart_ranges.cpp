#include "platform/multipart_ranges.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace orvanta {

namespace {

constexpr std::size_t maxBoundary = 70;
// nginx and Apache send no preamble but a CRLF; anything long is not a byteranges body.
constexpr std::size_t maxPreamble = 1024;
constexpr std::size_t maxPadding = 64;
// nginx sends two header lines a part (Content-Type, Content-Range).
constexpr std::size_t maxHeaderBytes = 2048;
constexpr std::size_t maxHeaderLines = 16;

bool isAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// RFC 7230's tchar.
bool isTokenChar(char c) {
    return isAlphanumeric(c) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// RFC 2046: 1 to 70 of its bchars, not ending in a space.
bool isBoundary(std::string_view boundary) {
    const auto bchar = [](char c) {
        return isAlphanumeric(c) ||
               std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
    };
    return !boundary.empty() && boundary.size() <= maxBoundary && boundary.back() != ' ' &&
           std::all_of(boundary.begin(), boundary.end(), bchar);
}

// The asked range a Content-Range value names exactly; none when it names anything else. The
// range is looked up by its first byte, then the whole value is held to it.
std::optional<std::size_t> namedRange(const std::vector<ByteRange>& asked, std::string_view value) {
    const std::string_view text = trimmed(value);
    if (text.size() < 6 || !equalsIgnoringCase(text.substr(0, 6), "bytes ")) {
        return std::nullopt;
    }
    std::uint64_t first = 0;
    for (std::size_t i = 6; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (first > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        first = first * 10 + digit;
    }
    const auto found =
        std::lower_bound(asked.begin(), asked.end(), first,
                         [](const ByteRange& range, std::uint64_t at) { return range.first < at; });
    if (found == asked.end() || found->first != first || !contentRangeIs(value, *found)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - asked.begin());
}

} // namespace

std::optional<std::string> byterangesBoundary(std::string_view contentType) {
    std::string_view rest = trimmed(contentType);
    const auto token = [&] {
        std::size_t size = 0;
        while (size < rest.size() && isTokenChar(rest[size])) {
            ++size;
        }
        const std::string_view taken = rest.substr(0, size);
        rest.remove_prefix(size);
        return taken;
    };
    const auto skip = [&](char c) {
        if (rest.empty() || rest.front() != c) {
            return false;
        }
        rest.remove_prefix(1);
        return true;
    };
    const auto skipSpace = [&] {
        while (skip(' ') || skip('\t')) {
        }
    };
    const std::string_view type = token();
    if (!equalsIgnoringCase(type, "multipart") || !skip('/') ||
        !equalsIgnoringCase(token(), "byteranges")) {
        return std::nullopt;
    }
    std::optional<std::string> boundary;
    for (skipSpace(); !rest.empty(); skipSpace()) {
        if (!skip(';')) {
            return std::nullopt;
        }
        skipSpace();
        const std::string_view name = token();
        if (name.empty() || !skip('=')) {
            return std::nullopt;
        }
        std::string value;
        if (skip('"')) {
            // A quoted string; a backslash takes the next byte as it is.
            while (!skip('"')) {
                skip('\\');
                if (rest.empty()) {
                    return std::nullopt;
                }
                value += rest.front();
                rest.remove_prefix(1);
            }
        } else {
            value = token();
            if (value.empty()) {
                return std::nullopt;
            }
        }
        if (equalsIgnoringCase(name, "boundary")) {
            // Two boundaries: which one the server frames with is anyone's guess.
            if (boundary) {
                return std::nullopt;
            }
            boundary = std::move(value);
        }
    }
    if (!boundary || !isBoundary(*boundary)) {
        return std::nullopt;
    }
    return boundary;
}

MultipartRanges::MultipartRanges(std::vector<ByteRange> asked, std::string boundary, Write write)
    : asked_(std::move(asked)), delimiter_("\r\n--" + boundary), write_(std::move(write)),
      arrived_(asked_.size(), false), held_(asked_.size()) {
    // The body may open with the delimiter itself: as if the CRLF that starts it had come.
    matched_ = 2;
    bool sound = !asked_.empty() && isBoundary(boundary) && write_;
    std::uint64_t total = 0;
    for (std::size_t i = 0; sound && i < asked_.size(); ++i) {
        const ByteRange& range = asked_[i];
        // A gap between ranges keeps a server from answering two with one part; any part may
        // be held, so together they must fit in memory.
        sound = range.first <= range.last &&
                range.last < std::numeric_limits<std::uint64_t>::max() &&
                (i == 0 || range.first > asked_[i - 1].last + 1) &&
                range.last - range.first < held_[i].max_size() - total;
        total += range.last - range.first + 1;
    }
    if (!sound) {
        stop(true);
    }
}

bool MultipartRanges::feed(const char* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size && state_ != State::stopped && state_ != State::closed) {
        if (state_ == State::body) {
            at += takeBody(data + at, size - at);
        } else {
            step(data[at]);
            ++at;
        }
    }
    return state_ != State::stopped;
}

void MultipartRanges::step(char c) {
    switch (state_) {
    case State::preamble:
        ++preamble_;
        if (c == delimiter_[matched_]) {
            if (++matched_ == delimiter_.size()) {
                state_ = State::padding;
            }
        } else if (matched_ >= 4) {
            // A line that starts with "--" but not with the boundary: another boundary's.
            return stop(true);
        } else {
            // The boundary holds no CR, so a delimiter can only start over at this byte.
            matched_ = c == '\r' ? 1 : 0;
        }
        // What may still be a delimiter does not count.
        if (preamble_ > maxPreamble + matched_) {
            stop(true);
        }
        return;
    case State::padding:
        if (c == ' ' || c == '\t') {
            if (++padding_ > maxPadding) {
                stop(true);
            }
        } else if (c == '\r') {
            state_ = State::lineFeed;
        } else if (c == '-' && padding_ == 0 && parts_ > 0) {
            state_ = State::closeDash;
        } else {
            stop(true);
        }
        return;
    case State::lineFeed:
        if (c != '\n') {
            return stop(true);
        }
        state_ = State::headers;
        headerBytes_ = 0;
        headerLines_ = 0;
        part_.reset();
        return;
    case State::closeDash:
        if (c != '-') {
            return stop(true);
        }
        // Closed with a range missing: no answer, but framed well; the caller sees a short body.
        if (next_ == asked_.size()) {
            state_ = State::closed;
        } else {
            stop(false);
        }
        return;
    case State::headers:
        if (++headerBytes_ > maxHeaderBytes) {
            return stop(true);
        }
        if (!line_.empty() && line_.back() == '\r') {
            if (c != '\n') {
                return stop(true);
            }
            line_.pop_back();
            return headerLine();
        }
        // A bare LF stays in the line, where it fails the line.
        line_ += c;
        return;
    case State::delimiter:
        if (c != delimiter_[matched_]) {
            return stop(true);
        }
        if (++matched_ == delimiter_.size()) {
            state_ = State::padding;
            padding_ = 0;
        }
        return;
    case State::body:
    case State::closed:
    case State::stopped:
        return;
    }
}

void MultipartRanges::headerLine() {
    if (line_.empty()) {
        // The blank line: the part's bytes follow.
        if (!part_) {
            return stop(true);
        }
        const ByteRange& range = asked_[*part_];
        remaining_ = range.last - range.first + 1;
        arrived_[*part_] = true;
        ++parts_;
        if (*part_ != next_) {
            held_[*part_].reserve(static_cast<std::size_t>(remaining_));
        }
        state_ = State::body;
        return;
    }
    const std::string_view line = line_;
    const auto colon = line.find(':');
    const std::string_view name = line.substr(0, std::min(colon, line.size()));
    const std::string_view value = colon == std::string_view::npos ? "" : line.substr(colon + 1);
    const auto control = [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f;
    };
    if (++headerLines_ > maxHeaderLines || colon == std::string_view::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), isTokenChar) ||
        std::any_of(value.begin(), value.end(), control)) {
        return stop(true);
    }
    if (equalsIgnoringCase(name, "Content-Range")) {
        const auto index = namedRange(asked_, value);
        if (part_ || !index || arrived_[*index]) {
            return stop(true);
        }
        part_ = index;
    }
    line_.clear();
}

std::size_t MultipartRanges::takeBody(const char* data, std::size_t size) {
    const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size));
    const std::size_t index = *part_;
    if (index != next_) {
        held_[index].append(data, taken);
    } else if (!write_(data, taken)) {
        stop(false);
        return taken;
    }
    remaining_ -= taken;
    if (remaining_ > 0) {
        return taken;
    }
    state_ = State::delimiter;
    matched_ = 0;
    if (index != next_) {
        return taken;
    }
    // Parts that came ahead of their turn follow at once, and are let go.
    for (++next_; next_ < asked_.size() && arrived_[next_]; ++next_) {
        std::string held;
        held.swap(held_[next_]);
        if (!write_(held.data(), held.size())) {
            stop(false);
            return taken;
        }
    }
    return taken;
}

void MultipartRanges::stop(bool malformed) {
    state_ = State::stopped;
    malformed_ = malformed;
    held_ = {};
    line_ = {};
}

} // namespace orvanta
