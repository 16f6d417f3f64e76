#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

// Text helpers both platforms' transfers use on HTTP header lines.

// Equal when they agree after A to Z are mapped to a to z; no other byte is folded.
inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Without leading spaces and tabs, and without trailing spaces, tabs and line ends.
inline std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The lines of a block of request headers a caller gives, each trimmed, blank ones left out.
inline std::vector<std::string> splitHeaderLines(std::string_view headers) {
    std::vector<std::string> lines;
    while (!headers.empty()) {
        const auto end = headers.find('\n');
        const std::string_view line = trimmed(headers.substr(0, end));
        headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 1);
        if (!line.empty()) {
            lines.emplace_back(line);
        }
    }
    return lines;
}

// The bytes first to last of a file, both included.
struct ByteRange {
    std::uint64_t first;
    std::uint64_t last;
};

// True when a Content-Range value names exactly range: "bytes first-last/total", the total a
// length past last or "*" when the server does not know it.
inline bool contentRangeIs(std::string_view value, const ByteRange& range) {
    value = trimmed(value);
    if (value.size() < 6 || !equalsIgnoringCase(value.substr(0, 6), "bytes ")) {
        return false;
    }
    value.remove_prefix(6);
    const auto number = [&](std::uint64_t& out) {
        out = 0;
        std::size_t digits = 0;
        for (; digits < value.size() && value[digits] >= '0' && value[digits] <= '9'; ++digits) {
            const auto digit = static_cast<std::uint64_t>(value[digits] - '0');
            if (out > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                return false;
            }
            out = out * 10 + digit;
        }
        value.remove_prefix(digits);
        return digits > 0;
    };
    const auto skip = [&](char c) {
        if (value.empty() || value.front() != c) {
            return false;
        }
        value.remove_prefix(1);
        return true;
    };
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t total = 0;
    if (!number(first) || !skip('-') || !number(last) || !skip('/') || first != range.first ||
        last != range.last) {
        return false;
    }
    return value == "*" || (number(total) && value.empty() && last < total);
}

} // namespace orvanta
