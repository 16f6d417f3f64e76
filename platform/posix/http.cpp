// HTTP(S) transfers over libcurl: one easy handle per call, nothing kept between calls.
#include "platform/http.hpp"

#include "platform/header_text.hpp"
#include "platform/posix/file_descriptor.hpp"
#include "platform/posix/file_sync.hpp"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <curl/curl.h>
#include <deque>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <openssl/ssl.h>
#include <string_view>
#include <unistd.h>

#ifndef ORVANTA_CA_BUNDLE
#define ORVANTA_CA_BUNDLE ""
#endif

namespace orvanta {
namespace {

constexpr const char* userAgent = "Orvanta/1.0";
constexpr long maxRedirects = 10;
constexpr long downloadBufferBytes = 256L * 1024L;
// The launcher's own TLS floor, whatever the system's OpenSSL configuration allows: TLS 1.2 at
// least, and OpenSSL security level 2 at least, which demands keys of 112-bit strength (RSA and
// DH of 2048 bits, elliptic curves of 224) and refuses SHA-1 signatures. A stricter level set by
// the system is kept.
constexpr int minimumSecurityLevel = 2;

CURLcode raiseTlsFloor(CURL*, void* context, void*) {
    auto* ssl = static_cast<SSL_CTX*>(context);
    if (SSL_CTX_get_security_level(ssl) < minimumSecurityLevel) {
        SSL_CTX_set_security_level(ssl, minimumSecurityLevel);
    }
    if (SSL_CTX_get_min_proto_version(ssl) < TLS1_2_VERSION &&
        SSL_CTX_set_min_proto_version(ssl, TLS1_2_VERSION) != 1) {
        return CURLE_SSL_CIPHER;
    }
    return CURLE_OK;
}

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

std::optional<std::string> urlPart(CURLU* url, CURLUPart part, unsigned int flags) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string result(text);
    curl_free(text);
    return result;
}

// curl decodes percent-escapes in a host name; control bytes that come out of that are no host.
bool hasControlCharacter(const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

struct ParsedUrl {
    std::string normalized; // the URL as curl will request it, without user name or password
    std::string host;
    std::string path;
    bool secure = false;
    std::uint16_t port = 0;
};

std::optional<ParsedUrl> parseUrl(const std::string& url) {
    if (url.empty() || url.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    // curl forgives "http:/host" and "http:///host"; an absolute URL names its host right after
    // "scheme://".
    const auto colon = url.find(':');
    if (colon == std::string::npos || url.compare(colon, 3, "://") != 0 ||
        url.compare(colon + 3, 1, "/") == 0) {
        return std::nullopt;
    }
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    ParsedUrl parsed;
    const auto scheme = urlPart(handle.get(), CURLUPART_SCHEME, 0);
    if (!scheme || (*scheme != "http" && *scheme != "https")) {
        return std::nullopt;
    }
    parsed.secure = *scheme == "https";

    auto host = urlPart(handle.get(), CURLUPART_HOST, 0);
    if (!host || host->empty() || hasControlCharacter(*host)) {
        return std::nullopt;
    }
    parsed.host = std::move(*host);

    const auto port = urlPart(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    unsigned long number = 0;
    if (!port ||
        std::from_chars(port->data(), port->data() + port->size(), number).ec != std::errc() ||
        number == 0 || number > 65535) {
        return std::nullopt;
    }
    parsed.port = static_cast<std::uint16_t>(number);

    parsed.path = urlPart(handle.get(), CURLUPART_PATH, 0).value_or(std::string());
    if (parsed.path.empty()) {
        parsed.path.push_back('/');
    }
    if (const auto query = urlPart(handle.get(), CURLUPART_QUERY, 0)) {
        parsed.path += "?" + *query;
    }

    // A user name or password in the URL is neither sent nor used: the request goes without them.
    for (const CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS}) {
        if (curl_url_set(handle.get(), part, nullptr, 0) != CURLUE_OK) {
            return std::nullopt;
        }
    }
    auto normalized = urlPart(handle.get(), CURLUPART_URL, 0);
    if (!normalized) {
        return std::nullopt;
    }
    parsed.normalized = std::move(*normalized);
    return parsed;
}

// How fast a download goes: the bytes that arrived in all (every response's headers and body,
// since curl's own counters start again at each redirect) and samples of that count, at most one
// a second, reaching back one window.
struct Pace {
    using Clock = std::chrono::steady_clock;
    struct Sample {
        Clock::time_point at;
        std::uint64_t arrived;
    };

    Clock::duration window{};
    std::uint64_t leastPerWindow = 0; // a window that brings fewer bytes fails the transfer
    std::uint64_t arrived = 0;
    // Oldest first. Once the transfer is a window old, the first is the newest sample at least
    // that old; the start of the transfer is the first sample of all, with nothing arrived.
    std::deque<Sample> samples;
};

// True when the last window brought too few bytes. The span judged runs from the newest sample
// at least a window old, so it is the window or up to about two seconds longer: a transfer is
// stopped at most that late, and never for a window that kept the pace.
bool fellBehind(Pace& pace, Pace::Clock::time_point now) {
    if (now - pace.samples.back().at >= std::chrono::seconds(1)) {
        pace.samples.push_back({now, pace.arrived});
    }
    while (pace.samples.size() > 1 && pace.samples[1].at <= now - pace.window) {
        pace.samples.pop_front();
    }
    const Pace::Sample& oldest = pace.samples.front();
    return oldest.at <= now - pace.window && pace.arrived - oldest.arrived < pace.leastPerWindow;
}

// The state one transfer shares with its curl callbacks.
struct Exchange {
    enum class Kind { Text, File };

    Kind kind = Kind::Text;
    CURL* handle = nullptr;

    bool redirecting = false; // the response being read names a Location that curl follows
    bool headersDone = false; // the header block of the response that ends the chain arrived
    bool redirectRefused = false;
    std::exception_ptr callbackError;
    Pace pace;

    // Kind::Text
    std::string body;
    std::uint64_t maxBytes = 0;
    bool tooLarge = false;

    // Kind::File
    const DownloadSink* sink = nullptr;
    ProgressCallback* progress = nullptr;
    bool sinkOpen = false;
    bool statusRejected = false;
    bool sinkFailed = false;
    std::uint64_t received = 0;
    std::uint64_t total = 0;
};

long responseCode(CURL* handle) {
    long code = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) {
        return 0;
    }
    return code;
}

// A redirect away from https must stay on https, hop by hop, whatever the first URL was.
bool redirectKeepsTls(CURL* handle, std::string_view location) {
    char* current = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK ||
        current == nullptr) {
        return false;
    }
    UrlHandle url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, current, 0) != CURLUE_OK) {
        return false;
    }
    const auto from = urlPart(url.get(), CURLUPART_SCHEME, 0);
    if (from != "https") {
        return true;
    }
    // Resolved the way curl resolves a Location, relative forms included.
    const std::string target(location);
    if (curl_url_set(url.get(), CURLUPART_URL, target.c_str(),
                     CURLU_URLENCODE | CURLU_ALLOW_SPACE | CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return false;
    }
    return urlPart(url.get(), CURLUPART_SCHEME, 0) == "https";
}

std::uint64_t announcedLength(CURL* handle) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(length);
}

// Called once the header block of the final response is complete; false aborts the transfer.
bool acceptResponse(Exchange& exchange, long status) {
    if (exchange.kind == Exchange::Kind::Text) {
        if (announcedLength(exchange.handle) > exchange.maxBytes) {
            exchange.tooLarge = true;
            return false;
        }
        return true;
    }
    if (status < 200 || status > 299) {
        exchange.statusRejected = true;
        return false;
    }
    exchange.total = announcedLength(exchange.handle);
    if (!exchange.sink->open()) {
        exchange.sinkFailed = true;
        return false;
    }
    exchange.sinkOpen = true;
    return true;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    exchange.pace.arrived += bytes;

    if (line.starts_with("HTTP/")) {
        // A new response: an interim one, a redirect's target, or the first.
        exchange.redirecting = false;
        exchange.headersDone = false;
        return bytes;
    }
    if (exchange.headersDone) {
        return bytes; // trailers after a chunked body
    }
    if (line == "\r\n" || line == "\n") {
        const long status = responseCode(exchange.handle);
        if (status < 200 || exchange.redirecting) {
            return bytes; // 1xx, or a redirect whose body curl skips
        }
        exchange.headersDone = true;
        return acceptResponse(exchange, status) ? bytes : 0;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && equalsIgnoringCase(line.substr(0, colon), "location")) {
        const long status = responseCode(exchange.handle);
        if (status >= 300 && status <= 399) {
            exchange.redirecting = true;
            if (!redirectKeepsTls(exchange.handle, trimmed(line.substr(colon + 1)))) {
                exchange.redirectRefused = true;
                return 0;
            }
        }
    }
    return bytes;
}

std::size_t onText(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    if (!exchange.headersDone) {
        return bytes;
    }
    if (exchange.body.size() + bytes > exchange.maxBytes) {
        exchange.tooLarge = true;
        return 0;
    }
    try {
        exchange.body.append(data, bytes);
    } catch (...) {
        exchange.callbackError = std::current_exception();
        return 0;
    }
    return bytes;
}

std::size_t onFileData(char* data, std::size_t size, std::size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t bytes = size * count;
    exchange.pace.arrived += bytes;
    if (!exchange.headersDone || !exchange.sinkOpen) {
        return bytes;
    }
    if (bytes == 0) {
        return 0;
    }
    if (!exchange.sink->write(data, bytes)) {
        exchange.sinkFailed = true;
        return 0;
    }
    exchange.received += bytes;
    if (*exchange.progress) {
        // An exception must not unwind through libcurl: keep it and rethrow after the transfer.
        try {
            (*exchange.progress)(exchange.received, exchange.total);
        } catch (...) {
            exchange.callbackError = std::current_exception();
            return 0;
        }
    }
    return bytes;
}

// Called by curl as data arrives and about once a second while none does; non-zero ends the
// transfer.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& exchange = *static_cast<Exchange*>(user);
    try {
        return fellBehind(exchange.pace, Pace::Clock::now()) ? 1 : 0;
    } catch (...) {
        exchange.callbackError = std::current_exception();
        return 1;
    }
}

// Makes the download fail when a window brings too few bytes; the window starts with the transfer.
bool watchPace(CURL* handle, Exchange& exchange) {
    const HttpLimits& limits = httpLimits();
    if (limits.averageWindowSeconds <= 0 || limits.minimumAverageBytesPerSecond == 0) {
        return true;
    }
    Pace& pace = exchange.pace;
    pace.window = std::chrono::seconds(limits.averageWindowSeconds);
    pace.leastPerWindow = limits.minimumAverageBytesPerSecond *
                          static_cast<std::uint64_t>(limits.averageWindowSeconds);
    pace.samples.push_back({Pace::Clock::now(), 0});
    return curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onProgress) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_XFERINFODATA, static_cast<void*>(&exchange)) ==
               CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

const char* trustedBundle() {
    const std::string& configured = httpLimits().caBundle;
    if (!configured.empty()) {
        return configured.c_str();
    }
    static const std::string built = ORVANTA_CA_BUNDLE;
    return built.empty() ? nullptr : built.c_str();
}

// Options every transfer shares. False when curl refuses one of them.
bool configure(CURL* handle, const ParsedUrl& url, Exchange& exchange) {
    const HttpLimits& limits = httpLimits();
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, option, value);
        }
    };
    set(CURLOPT_URL, url.normalized.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, userAgent);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, maxRedirects);
    set(CURLOPT_REDIR_PROTOCOLS_STR, url.secure ? "https" : "http,https");
    // The first URL comes without user name or password (parseUrl); a redirect whose Location
    // names one fails, where curl would otherwise send them on to that address. Failing the hop
    // is the one way curl offers to keep them unsent, and the launcher has no login to give.
    set(CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
    set(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED)); // never a login from ~/.netrc
    set(CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set(CURLOPT_SSL_CTX_FUNCTION, &raiseTlsFloor);
    if (const char* bundle = trustedBundle()) {
        // The bundle replaces the system store rather than adding to it.
        set(CURLOPT_CAINFO, bundle);
        set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_HEADERFUNCTION, &onHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&exchange));
    set(CURLOPT_WRITEDATA, static_cast<void*>(&exchange));
    return result == CURLE_OK;
}

HeaderList headerLines(const std::string& headers, bool& ok) {
    HeaderList list;
    std::string_view rest(headers);
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::string line(trimmed(rest.substr(0, end)));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.empty()) {
            continue;
        }
        curl_slist* extended = curl_slist_append(list.get(), line.c_str());
        if (extended == nullptr) {
            ok = false;
            return list;
        }
        static_cast<void>(list.release());
        list.reset(extended);
    }
    return list;
}

} // namespace

bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure,
              std::uint16_t& port) {
    auto parsed = parseUrl(url);
    if (!parsed) {
        return false;
    }
    host = std::move(parsed->host);
    path = std::move(parsed->path);
    secure = parsed->secure;
    port = parsed->port;
    return true;
}

bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure) {
    std::uint16_t port = 0;
    return splitUrl(url, host, path, secure, port);
}

std::optional<HttpResponse> httpRequest(const std::string& url, const std::string& verb,
                                        const std::optional<std::string>& headers,
                                        const std::optional<std::string>& body) {
    const auto parsed = parseUrl(url);
    if (!parsed || !curlReady()) {
        return std::nullopt;
    }
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return std::nullopt;
    }
    Exchange exchange;
    exchange.kind = Exchange::Kind::Text;
    exchange.handle = handle.get();
    exchange.maxBytes = httpLimits().maxTextBytes;
    if (!configure(handle.get(), *parsed, exchange) ||
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &onText) != CURLE_OK ||
        curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, httpLimits().textTimeoutSeconds) !=
            CURLE_OK) {
        return std::nullopt;
    }

    bool ok = true;
    HeaderList list;
    if (headers) {
        list = headerLines(*headers, ok);
        if (list) {
            ok = ok && curl_easy_setopt(handle.get(), CURLOPT_HTTPHEADER, list.get()) == CURLE_OK;
        }
    }
    if (body) {
        ok = ok &&
             curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                              static_cast<curl_off_t>(body->size())) == CURLE_OK &&
             curl_easy_setopt(handle.get(), CURLOPT_POSTFIELDS, body->data()) == CURLE_OK;
    }
    if (verb == "HEAD") {
        ok = ok && curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else if (!verb.empty() && (verb != "GET" || body)) {
        ok = ok && curl_easy_setopt(handle.get(), CURLOPT_CUSTOMREQUEST, verb.c_str()) == CURLE_OK;
    }
    if (!ok) {
        return std::nullopt;
    }

    const CURLcode result = curl_easy_perform(handle.get());
    if (exchange.callbackError) {
        std::rethrow_exception(exchange.callbackError);
    }
    if (exchange.tooLarge || exchange.redirectRefused) {
        return std::nullopt;
    }
    // A response whose headers arrived counts even when its body was cut short.
    if (result != CURLE_OK && !exchange.headersDone) {
        return std::nullopt;
    }
    const long status = responseCode(handle.get());
    return HttpResponse{
        static_cast<std::uint32_t>(status > 0 && status <= 0xFFFFFFFFL ? status : 0),
        std::move(exchange.body)};
}

std::optional<HttpResponse> fetchText(const std::string& url) {
    return httpRequest(url, "GET", std::nullopt, std::nullopt);
}

bool downloadToSink(const std::string& url, const DownloadSink& sink, ProgressCallback progress) {
    const auto parsed = parseUrl(url);
    if (!parsed || !curlReady()) {
        return false;
    }
    EasyHandle handle(curl_easy_init());
    if (!handle) {
        return false;
    }
    Exchange exchange;
    exchange.kind = Exchange::Kind::File;
    exchange.handle = handle.get();
    exchange.sink = &sink;
    exchange.progress = &progress;
    if (!configure(handle.get(), *parsed, exchange) ||
        curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, &onFileData) != CURLE_OK ||
        curl_easy_setopt(handle.get(), CURLOPT_BUFFERSIZE, downloadBufferBytes) != CURLE_OK ||
        curl_easy_setopt(handle.get(), CURLOPT_HTTPGET, 1L) != CURLE_OK ||
        !watchPace(handle.get(), exchange)) {
        return false;
    }

    const CURLcode result = curl_easy_perform(handle.get());
    handle.reset();
    if (exchange.callbackError) {
        std::rethrow_exception(exchange.callbackError);
    }
    return result == CURLE_OK && exchange.sinkOpen && !exchange.sinkFailed;
}

bool downloadToFile(const std::string& url, const std::string& destinationPath,
                    ProgressCallback progress) {
    FileDescriptor file{-1};
    const DownloadSink sink{
        [&] {
            file.fd =
                ::open(destinationPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            return file.fd >= 0;
        },
        [&](const char* data, std::size_t size) { return writeAll(file.fd, data, size); }};
    if (!downloadToSink(url, sink, std::move(progress)) || file.fd < 0) {
        return false;
    }
    const int descriptor = file.fd;
    file.fd = -1;
    return ::close(descriptor) == 0;
}

HttpLimits& httpLimits() {
    static HttpLimits limits;
    return limits;
}

} // namespace orvanta
