// Address parsing and resolution on uriparser (RFC 3986), shared by both platforms' transfers.
#include "platform/url.hpp"

#include "platform/header_text.hpp"

#include <uriparser/Uri.h>

namespace orvanta {
namespace {

// A parsed reference and the text its ranges point into; uriparser's members are freed with it.
class UriText {
  public:
    UriText() = default;
    ~UriText() { uriFreeUriMembersA(&uri_); }
    UriText(const UriText&) = delete;
    UriText& operator=(const UriText&) = delete;

    bool parse(std::string text) {
        text_ = std::move(text);
        const char* error = nullptr;
        return uriParseSingleUriExA(&uri_, text_.data(), text_.data() + text_.size(), &error) ==
               URI_SUCCESS;
    }
    UriUriA& get() { return uri_; }

  private:
    std::string text_;
    UriUriA uri_{};
};

std::string_view rangeText(const UriTextRangeA& range) {
    if (range.first == nullptr) {
        return {};
    }
    return {range.first, static_cast<std::size_t>(range.afterLast - range.first)};
}

bool isControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

// uriparser takes ASCII alone: bytes outside it, and spaces where a redirect allows them, become
// percent-escapes, as browsers and libcurl send them.
std::string escaped(std::string_view text, bool spaces) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || (spaces && c == ' ')) {
            result.push_back('%');
            result.push_back(digits[byte >> 4]);
            result.push_back(digits[byte & 0x0F]);
        } else {
            result.push_back(c);
        }
    }
    return result;
}

// A registered host name with its escapes decoded; none when what comes out could break the
// Host header or the request (the characters libcurl refuses in a host).
std::optional<std::string> decodedHost(std::string_view text) {
    static constexpr std::string_view refused = " \r\n\t/:#?!@{}[]\\$'\"^`*<>=;,+&()%";
    std::string host(text);
    const char* end = uriUnescapeInPlaceExA(host.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    host.resize(static_cast<std::size_t>(end - host.data()));
    if (host.empty()) {
        return std::nullopt;
    }
    for (const char c : host) {
        if (isControl(static_cast<unsigned char>(c)) || refused.find(c) != std::string_view::npos) {
            return std::nullopt;
        }
    }
    return host;
}

std::optional<std::uint16_t> portOf(std::string_view written, bool secure) {
    // "host:" with no digits takes the scheme's port, as libcurl has it.
    if (written.empty()) {
        return secure ? 443 : 80;
    }
    unsigned long number = 0;
    for (const char c : written) {
        number = number * 10 + static_cast<unsigned long>(c - '0'); // uriparser gives digits only
        if (number > 65535) {
            return std::nullopt;
        }
    }
    if (number == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(number);
}

bool hasControlOrSpace(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControl(byte) || byte == ' ') {
            return true;
        }
    }
    return false;
}

} // namespace

std::string Url::text() const {
    // A decoded host may hold bytes an address cannot carry as they are ("%7C" gave "|").
    static constexpr std::string_view plain = "-._~!$&'()*+,;=";
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string written;
    for (const char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (alphanumeric || plain.find(c) != std::string_view::npos || host.front() == '[') {
            written.push_back(c);
        } else {
            written += {'%', digits[byte >> 4], digits[byte & 0x0F]};
        }
    }
    const bool defaultPort = port == (secure ? 443 : 80);
    return scheme() + "://" + written + (defaultPort ? "" : ":" + std::to_string(port)) + target();
}

std::optional<Url> parseUrl(std::string_view text) {
    if (text.empty() || hasControlOrSpace(text)) {
        return std::nullopt;
    }
    UriText uri;
    if (!uri.parse(escaped(text, false))) {
        return std::nullopt;
    }
    UriUriA& parts = uri.get();
    Url url;
    const std::string_view scheme = rangeText(parts.scheme);
    if (equalsIgnoringCase(scheme, "https")) {
        url.secure = true;
    } else if (!equalsIgnoringCase(scheme, "http")) {
        return std::nullopt;
    }
    // The host must follow "//": "http:/host" and "http:///path" name none.
    if (parts.hostText.first == nullptr || parts.hostData.ipFuture.first != nullptr) {
        return std::nullopt;
    }
    if (parts.hostData.ip6 != nullptr) {
        url.host = "[" + std::string(rangeText(parts.hostText)) + "]";
    } else {
        auto host = decodedHost(rangeText(parts.hostText));
        if (!host) {
            return std::nullopt;
        }
        url.host = std::move(*host);
    }
    const auto port = portOf(rangeText(parts.portText), url.secure);
    if (!port) {
        return std::nullopt;
    }
    url.port = *port;
    url.login = parts.userInfo.first != nullptr;

    // Resolving the address against itself removes its "." and ".." segments, the way a
    // redirect's address is resolved; escapes stay as written ("%2e" is no dot segment).
    UriUriA dotless{};
    if (uriAddBaseUriExA(&dotless, &parts, &parts, URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
        uriFreeUriMembersA(&dotless);
        return std::nullopt;
    }
    for (const UriPathSegmentA* segment = dotless.pathHead; segment != nullptr;
         segment = segment->next) {
        url.path.push_back('/');
        url.path.append(rangeText(segment->text));
    }
    uriFreeUriMembersA(&dotless);
    if (url.path.empty()) {
        url.path = "/";
    }
    if (parts.query.first != nullptr) {
        url.query = "?" + std::string(rangeText(parts.query));
    }
    url.address = ipAddressBytes(url.host);
    return url;
}

std::optional<std::string> resolveLocation(const Url& base, std::string_view location) {
    while (!location.empty() && (location.front() == ' ' || location.front() == '\t')) {
        location.remove_prefix(1);
    }
    while (!location.empty() && (location.back() == ' ' || location.back() == '\t')) {
        location.remove_suffix(1);
    }
    for (const char c : location) {
        if (isControl(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
    }
    UriText reference;
    UriText absolute;
    if (!reference.parse(escaped(location, true)) || !absolute.parse(escaped(base.text(), false))) {
        return std::nullopt;
    }
    UriText resolved;
    if (uriAddBaseUriExA(&resolved.get(), &reference.get(), &absolute.get(),
                         URI_RESOLVE_STRICTLY) != URI_SUCCESS) {
        return std::nullopt;
    }
    int length = 0;
    if (uriToStringCharsRequiredA(&resolved.get(), &length) != URI_SUCCESS || length < 0) {
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    if (uriToStringA(text.data(), &resolved.get(), length + 1, nullptr) != URI_SUCCESS) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(length));
    return text;
}

bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure,
              std::uint16_t& port) {
    auto parsed = parseUrl(url);
    if (!parsed) {
        return false;
    }
    host = std::move(parsed->host);
    path = parsed->target();
    secure = parsed->secure;
    port = parsed->port;
    return true;
}

bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure) {
    std::uint16_t port = 0;
    return splitUrl(url, host, path, secure, port);
}

} // namespace orvanta
