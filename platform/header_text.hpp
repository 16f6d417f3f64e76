#pragma once

#include <algorithm>
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

} // namespace orvanta
