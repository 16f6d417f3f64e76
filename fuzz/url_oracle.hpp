// A plain reading of RFC 3986 for http and https addresses, written straight from its grammar
// (the component split of appendix B, the character sets of section 3, dot-segment removal of
// section 5.2.4, escapes left as written), with the launcher's own rules on top:
// no control byte or space, bytes outside ASCII taken as escaped, a decoded host free of the
// characters libcurl refuses, a port from 1 to 65535. The URL fuzz target checks the parser
// against it.
#pragma once

#include "platform/url.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace oracle {

struct SplitUrl {
    bool secure = false;
    std::string host;
    std::uint16_t port = 0;
    std::string path;
    std::string query;
};

inline bool alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool digit(char c) {
    return c >= '0' && c <= '9';
}
inline int hex(char c) {
    if (digit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
inline bool unreserved(char c) {
    return alpha(c) || digit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
inline bool subDelim(char c) {
    return std::string_view("!$&'()*+,;=").find(c) != std::string_view::npos;
}

// Every character is unreserved, a sub-delimiter, one of extra, or a whole percent-escape.
inline bool madeOf(std::string_view text, std::string_view extra) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
                return false;
            }
            i += 2;
        } else if (!unreserved(c) && !subDelim(c) && extra.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

inline std::string escapedHigh(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            out += {'%', digits[byte >> 4], digits[byte & 15]};
        } else {
            out.push_back(c);
        }
    }
    return out;
}

inline std::string withoutDotSegments(std::string input) {
    std::string output;
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.erase(0, 3);
        } else if (input.starts_with("./") || input.starts_with("/./")) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.starts_with("/../") || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            const auto slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            const auto next = input.find('/', 1);
            output += input.substr(0, next);
            input.erase(0, next == std::string::npos ? input.size() : next);
        }
    }
    return output;
}

inline std::optional<SplitUrl> split(std::string_view raw) {
    if (raw.empty())
        return std::nullopt;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return std::nullopt;
    }
    const std::string url = escapedHigh(raw);
    const auto colon = url.find(':');
    if (colon == std::string::npos || url.compare(colon, 3, "://") != 0)
        return std::nullopt;
    std::string scheme = url.substr(0, colon);
    for (char& c : scheme)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    SplitUrl out;
    if (scheme == "https") {
        out.secure = true;
    } else if (scheme != "http") {
        return std::nullopt;
    }
    const std::string rest = url.substr(colon + 3);
    const auto authorityEnd = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, authorityEnd);
    const std::string tail = authorityEnd == std::string::npos ? "" : rest.substr(authorityEnd);
    const auto hash = tail.find('#');
    const std::string fragment = hash == std::string::npos ? "" : tail.substr(hash + 1);
    const std::string beforeHash = tail.substr(0, hash);
    const auto question = beforeHash.find('?');
    const std::string path = beforeHash.substr(0, question);
    const bool hasQuery = question != std::string::npos;
    const std::string query = hasQuery ? beforeHash.substr(question + 1) : "";
    if (!madeOf(path, ":@/") || !madeOf(query, ":@/?") || !madeOf(fragment, ":@/?")) {
        return std::nullopt;
    }

    if (const auto at = authority.find('@'); at != std::string::npos) {
        if (!madeOf(authority.substr(0, at), ":"))
            return std::nullopt;
        authority.erase(0, at + 1);
    }
    std::string port;
    if (authority.starts_with("[")) {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        const std::string inside = authority.substr(1, close - 1);
        // The system's own address parser judges the address.
        if (inside.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos ||
            orvanta::ipAddressBytes("[" + inside + "]").size() != 16) {
            return std::nullopt;
        }
        out.host = "[" + inside + "]";
        const std::string after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return std::nullopt;
        port = after.empty() ? "" : after.substr(1);
    } else {
        const auto portColon = authority.find(':');
        const std::string host = authority.substr(0, portColon);
        port = portColon == std::string::npos ? "" : authority.substr(portColon + 1);
        if (!madeOf(host, ""))
            return std::nullopt;
        for (std::size_t i = 0; i < host.size(); ++i) {
            if (host[i] == '%') {
                out.host.push_back(static_cast<char>(hex(host[i + 1]) * 16 + hex(host[i + 2])));
                i += 2;
            } else {
                out.host.push_back(host[i]);
            }
        }
        static constexpr std::string_view refused = " \r\n\t/:#?!@{}[]\\$'\"^`*<>=;,+&()%";
        if (out.host.empty())
            return std::nullopt;
        for (const char c : out.host) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F || refused.find(c) != std::string_view::npos) {
                return std::nullopt;
            }
        }
    }
    unsigned long number = out.secure ? 443 : 80;
    if (!port.empty()) {
        number = 0;
        for (const char c : port) {
            if (!digit(c))
                return std::nullopt;
            number = number * 10 + static_cast<unsigned long>(c - '0');
            if (number > 65535)
                return std::nullopt;
        }
        if (number == 0)
            return std::nullopt;
    }
    out.port = static_cast<std::uint16_t>(number);
    out.path = withoutDotSegments(path);
    if (out.path.empty())
        out.path = "/";
    if (hasQuery)
        out.query = "?" + query;
    return out;
}

} // namespace oracle
