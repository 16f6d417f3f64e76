// The request options and checks every libcurl transfer shares.
#include "platform/posix/http_curl.hpp"

#include "platform/http.hpp"
#include "platform/posix/http_tls.hpp"

#include <string>

namespace orvanta {
namespace {

constexpr const char* userAgent = "Orvanta/1.0";
constexpr long maxRedirects = 10;

struct ShareDeleter {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};

// The thread's kept connections, name lookups and TLS sessions, shared by all its transfers: the
// manifest, its signature, the chunk index and the pack reach one host over one connection and
// one handshake. libcurl shares a connection cache within one thread only, hence one a thread.
CURLSH* threadShare() {
    thread_local const std::unique_ptr<CURLSH, ShareDeleter> share = [] {
        std::unique_ptr<CURLSH, ShareDeleter> made(curl_share_init());
        if (made &&
            (curl_share_setopt(made.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
             curl_share_setopt(made.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
             curl_share_setopt(made.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) !=
                 CURLSHE_OK)) {
            made.reset();
        }
        return made;
    }();
    return share.get();
}

} // namespace

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

long responseCode(CURL* handle) {
    long code = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) {
        return 0;
    }
    return code;
}

bool redirectKeepsTls(CURL* handle, std::string_view location) {
    char* current = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK ||
        current == nullptr) {
        return false;
    }
    const auto from = parseUrl(current);
    if (!from) {
        return false;
    }
    if (!from->secure) {
        return true;
    }
    const auto next = resolveLocation(*from, location);
    const auto to = next ? parseUrl(*next) : std::nullopt;
    return to && to->secure;
}

bool setRequestOptions(CURL* handle, const Url& url) {
    const HttpLimits& limits = httpLimits();
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, option, value);
        }
    };
    const std::string address = url.text();
    set(CURLOPT_URL, address.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_USERAGENT, userAgent);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, maxRedirects);
    set(CURLOPT_REDIR_PROTOCOLS_STR, url.secure ? "https" : "http,https");
    // The first URL goes without user name or password (Url::text); a redirect whose Location
    // names one fails, where curl would otherwise send them on to that address. Failing the hop
    // is the one way curl offers to keep them unsent, and the launcher has no login to give.
    set(CURLOPT_DISALLOW_USERNAME_IN_URL, 1L);
    set(CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED)); // never a login from ~/.netrc
    set(CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (CURLSH* share = threadShare()) {
        set(CURLOPT_SHARE, share);
    }
    return result == CURLE_OK && applyTlsPolicy(handle);
}

} // namespace orvanta
