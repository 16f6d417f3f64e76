// The body of a multipart/byteranges answer, read against a fixed request. The input is the
// answer's Content-Type value, a line feed, then the body. Whatever the bytes: the boundary
// named must be one RFC 2046 allows; the parser must reach the same end, handing write the same
// bytes, whether the body comes whole, in uneven pieces or a byte at a time; write never gets
// more than was asked; and a complete body handed over each range as it stood in the body,
// between the end of a header block and a delimiter.
#include "platform/multipart_ranges.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

const std::vector<orvanta::ByteRange> asked = {{0, 3}, {10, 19}, {30, 31}, {40, 103}};
constexpr std::size_t askedTotal = 4 + 10 + 2 + 64;

struct Outcome {
    std::string written;
    bool takesAll = true;
    bool complete = false;
    bool malformed = false;

    bool operator==(const Outcome&) const = default;
};

// piece(at) is the size of the piece that starts at offset at.
template <typename Piece>
Outcome run(std::string_view body, const std::string& boundary, Piece piece) {
    Outcome outcome;
    orvanta::MultipartRanges parser(asked, boundary, [&](const char* data, std::size_t size) {
        require(size > 0 && outcome.written.size() + size <= askedTotal);
        outcome.written.append(data, size);
        return true;
    });
    for (std::size_t at = 0; at < body.size();) {
        const std::size_t size = std::min(piece(at), body.size() - at);
        const bool took = parser.feed(body.data() + at, size);
        // Once refused, always refused.
        require(outcome.takesAll || !took);
        outcome.takesAll = took;
        at += size;
    }
    require(outcome.takesAll || !parser.feed("\r\n", 2));
    outcome.complete = parser.complete();
    outcome.malformed = parser.malformed();
    return outcome;
}

bool isBchar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = std::min(input.find('\n'), input.size());
    const auto named = orvanta::byterangesBoundary(input.substr(0, lineEnd));
    if (named) {
        require(!named->empty() && named->size() <= 70 && named->back() != ' ');
        require(std::all_of(named->begin(), named->end(), isBchar));
    }
    // Bodies behind any other type still go through, framed by nginx's sort of boundary.
    const std::string boundary = named.value_or("00000000000000000042");
    const std::string_view body = input.substr(std::min(lineEnd + 1, input.size()));

    const Outcome whole = run(body, boundary, [&](std::size_t) { return body.size(); });
    const Outcome bytes = run(body, boundary, [](std::size_t) { return std::size_t{1}; });
    const Outcome uneven = run(body, boundary, [&](std::size_t at) {
        return std::size_t{1} + static_cast<unsigned char>(body[at]) % 29;
    });
    require(whole == bytes && whole == uneven);
    require(!(whole.complete && whole.malformed));
    require(!whole.malformed || !whole.takesAll);
    if (!whole.complete) {
        return 0;
    }
    require(whole.takesAll && whole.written.size() == askedTotal);
    std::size_t at = 0;
    for (const orvanta::ByteRange& range : asked) {
        const auto length = static_cast<std::size_t>(range.last - range.first + 1);
        const std::string framed =
            "\r\n\r\n" + whole.written.substr(at, length) + "\r\n--" + boundary;
        require(body.find(framed) != std::string_view::npos);
        at += length;
    }
    return 0;
}
