#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {

// An absolute http or https address, split the way a request needs it.
struct Url {
    bool secure = false;
    std::string host;       // percent-escapes decoded; an IPv6 address keeps its brackets
    std::uint16_t port = 0; // the one written, else 443 (https) or 80 (http)
    std::string path;       // "/" at least, without "." or ".." segments
    std::string query;      // "?" and what follows it, when the address has one
    bool login = false;     // the address names a user or a password, which is never used
    std::vector<unsigned char> address; // the host's bytes when it is an IP address, else empty

    std::string scheme() const { return secure ? "https" : "http"; }
    std::string target() const { return path + query; }
    // The address as it is requested: no user name, password or fragment; the port only when
    // it is not the scheme's own.
    std::string text() const;
};

// Parses an absolute http or https address whose host follows "scheme://". Bytes outside ASCII
// are taken as percent-escaped; a control byte or a space anywhere, a host holding a character no
// host name holds (once decoded), or a port outside 1 to 65535 makes it no address.
std::optional<Url> parseUrl(std::string_view text);

// The address a redirect's Location names, resolved against the address that answered with it.
// Surrounding blanks are dropped and inner spaces escaped, as browsers do; an IPv6 host comes
// back written out in full. What comes back still has to pass parseUrl.
std::optional<std::string> resolveLocation(const Url& base, std::string_view location);

// Splits an absolute http(s) URL. The outputs are written only on success; path is "/" at least
// and carries the query. port is the one written in the URL, else 443 (https) or 80 (http).
bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure,
              std::uint16_t& port);
bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure);

// The bytes of an IP address as a host names it ("192.0.2.1", or "[2001:db8::1]" in brackets),
// read by the system's own address parser; empty for anything else.
std::vector<unsigned char> ipAddressBytes(std::string_view host);

} // namespace orvanta
