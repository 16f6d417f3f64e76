// URL splitting: whatever the manifest names as the game's address reaches this parser. A split
// must never hand the request line or the Host header anything that could break out of them, and
// it must agree with a plain reading of RFC 3986 (url_oracle.hpp).
#include "platform/url.hpp"
#include "url_oracle.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Control characters (0x00 to 0x1F and 0x7F) and the space end or corrupt a request line or a
// header, whichever way they get into one.
bool hasControlOrSpace(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);

    std::string host = "unchanged-host";
    std::string path = "unchanged-path";
    bool secure = true;
    std::uint16_t port = 7;
    const bool ok = orvanta::splitUrl(url, host, path, secure, port);

    std::string shortHost = "unchanged-host";
    std::string shortPath = "unchanged-path";
    bool shortSecure = true;
    const bool shortOk = orvanta::splitUrl(url, shortHost, shortPath, shortSecure);
    require(ok == shortOk);

    const auto expected = oracle::split(url);
    require(ok == expected.has_value());
    if (!ok) {
        // A rejected URL leaves every output as it was.
        require(host == "unchanged-host" && path == "unchanged-path" && secure && port == 7);
        require(shortHost == "unchanged-host" && shortPath == "unchanged-path" && shortSecure);
        return 0;
    }
    require(shortHost == host && shortPath == path && shortSecure == secure);
    require(host == expected->host && port == expected->port && secure == expected->secure);
    require(path == expected->path + expected->query);

    // An absolute address as a redirect's Location resolves to itself, whatever the base.
    const auto base = orvanta::parseUrl("https://base.example/a/b?c");
    const auto resolved = orvanta::resolveLocation(*base, url);
    const auto again = resolved ? orvanta::parseUrl(*resolved) : std::nullopt;
    const auto parsed = orvanta::parseUrl(url);
    require(again && again->target() == path && again->port == port);
    // uriparser writes an IPv6 address out in full: the same address, other text.
    require(again->host == host || (!parsed->address.empty() && again->address == parsed->address));

    // Only absolute http and https URLs, whose host follows "//", and the scheme decides
    // whether TLS is used.
    require(startsWithIgnoringCase(url, secure ? "https://" : "http://"));
    require(port != 0);

    // The host goes into the Host header and the path into the request line.
    require(!host.empty());
    require(!hasControlOrSpace(host));
    require(host.find_first_of("/@") == std::string::npos);
    require(!path.empty() && path[0] == '/');
    require(!hasControlOrSpace(path));

    // Splitting what the split produced gives the same parts again. Percent signs aside: curl
    // undoes one level of percent-encoding in a host per parse ("%3%39" becomes "%39", then "9",
    // which then reads as the address 0.0.0.9; "%%30e" becomes "%0e", then a control character
    // it rejects), so a host written with a percent sign need not survive another round.
    if (host.find('%') != std::string::npos) {
        return 0;
    }
    const std::string rebuilt =
        std::string(secure ? "https" : "http") + "://" + host + ":" + std::to_string(port) + path;
    std::string host2;
    std::string path2;
    bool secure2 = !secure;
    std::uint16_t port2 = 0;
    require(orvanta::splitUrl(rebuilt, host2, path2, secure2, port2));
    require(path2 == path && secure2 == secure && port2 == port);
    require(host2 == host || url.find('%') != std::string::npos);
    return 0;
}
