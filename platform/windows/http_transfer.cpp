// One WinHTTP transfer, request by request through its redirects.
#include "platform/windows/http_transfer.hpp"

#include "platform/header_text.hpp"
#include "platform/url.hpp"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace orvanta {
namespace {

constexpr const wchar_t* userAgent = L"Orvanta/1.0";
constexpr int maxRedirects = 10;

const Trust& trustFor(Exchange& exchange) {
    if (!exchange.trustLoaded) {
        exchange.trustLoaded = true;
        exchange.trust = loadTrust(exchange.limits);
    }
    return exchange.trust;
}

// The request line and headers every request carries besides WinHTTP's own.
bool addHeaders(HINTERNET request, const Exchange& exchange, bool withBody) {
    std::vector<std::string> seen;
    bool contentType = false;
    for (const std::string& line : exchange.headerLines) {
        const std::string name(trimmed(std::string_view(line).substr(0, line.find(':'))));
        contentType = contentType || equalsIgnoringCase(name, "Content-Type");
        // A header the caller gives replaces WinHTTP's own of that name; given twice, both go.
        const bool repeated = std::any_of(seen.begin(), seen.end(), [&](const std::string& s) {
            return equalsIgnoringCase(s, name);
        });
        seen.push_back(name);
        const std::wstring wide = widen(line);
        if (wide.empty() ||
            !WinHttpAddRequestHeaders(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD |
                                          (repeated ? 0 : WINHTTP_ADDREQ_FLAG_REPLACE))) {
            return false;
        }
    }
    // A body goes as a form unless the caller says otherwise, as libcurl sends one.
    if (withBody && !contentType) {
        static constexpr wchar_t form[] = L"Content-Type: application/x-www-form-urlencoded";
        return WinHttpAddRequestHeaders(request, form, static_cast<DWORD>(std::size(form) - 1),
                                        WINHTTP_ADDREQ_FLAG_ADD) != FALSE;
    }
    return true;
}

// Opens the request for one address, with everything set but the sending.
bool openRequest(Exchange& exchange, HINTERNET connection, const Url& url, const std::string& verb,
                 bool withBody, Internet& request) {
    const std::wstring wideVerb = widen(verb);
    const std::wstring target = widen(url.target());
    if (wideVerb.empty() || target.empty()) {
        return false;
    }
    LPCWSTR accept[] = {L"*/*", nullptr};
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (url.secure ? WINHTTP_FLAG_SECURE : 0);
    request.reset(WinHttpOpenRequest(connection, wideVerb.c_str(), target.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, accept, flags));
    if (!request) {
        return false;
    }
    // No cookies, no redirect followed behind this file's back, no login offered. Nor is a
    // connection kept once the call ends unless its caller asks: WinHTTP under Wine pools idle
    // connections for the whole process, past the session's end, where libcurl's transfer closes
    // its own.
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS |
                     WINHTTP_DISABLE_AUTHENTICATION |
                     (exchange.keepConnection ? 0 : WINHTTP_DISABLE_KEEP_ALIVE);
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    if (!WinHttpSetOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled) ||
        !WinHttpSetOption(request.handle, WINHTTP_OPTION_REDIRECT_POLICY, &redirects,
                          sizeof redirects) ||
        !WinHttpSetOption(request.handle, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon)) {
        return false;
    }
    if (url.secure) {
        const Trust& trust = trustFor(exchange);
        DWORD security = 0;
        if (trust.bundleConfigured) {
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        }
        if (!url.address.empty()) {
            security |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        }
        if (security != 0 && !WinHttpSetOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS,
                                               &security, sizeof security)) {
            return false;
        }
    }
    return addHeaders(request.handle, exchange, withBody);
}

// Sends the request, checks the server's certificate on https before any body goes, then
// sends the body and waits for the response headers.
bool exchangeHeaders(Exchange& exchange, HINTERNET request, Completion& completion,
                     DWORD_PTR context, const Url& url, bool withBody) {
    const DWORD bodySize = withBody ? static_cast<DWORD>(exchange.body->size()) : 0;
    prepare(completion);
    if (!limitSockets(request, exchange) ||
        !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            bodySize, context) ||
        !completed(completion, exchange)) {
        return false;
    }
    if (url.secure && !serverTrusted(request, url, trustFor(exchange))) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < bodySize) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bodySize - sent, 1u << 20));
        prepare(completion);
        if (!limitSockets(request, exchange) ||
            !WinHttpWriteData(request, exchange.body->data() + sent, part, nullptr) ||
            !completed(completion, exchange) || completion.count == 0) {
            return false;
        }
        sent += completion.count;
    }
    prepare(completion);
    return limitSockets(request, exchange) && WinHttpReceiveResponse(request, nullptr) &&
           completed(completion, exchange);
}

// The asynchronous session, with its TLS floor: TLS 1.2 at least; TLS 1.3 too where WinHTTP
// knows it.
bool openSession(Internet& session) {
    session.reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session) {
        return false;
    }
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                              sizeof protocols)) {
            session.reset();
            return false;
        }
    }
    if (!reportCompletions(session.handle)) {
        session.reset();
        return false;
    }
    return true;
}

// A connection to url's server: the link's last one when it goes there, else a new one.
bool connectTo(Link& link, const Url& url) {
    if (link.connection && link.server == url.host && link.port == url.port) {
        return true;
    }
    link.connection.reset();
    // WinHTTP takes an IPv6 address without its brackets.
    std::string server = url.host;
    if (server.size() > 2 && server.front() == '[') {
        server = server.substr(1, server.size() - 2);
    }
    const std::wstring wideServer = widen(server);
    if (wideServer.empty()) {
        return false;
    }
    link.connection.reset(WinHttpConnect(link.session.handle, wideServer.c_str(), url.port, 0));
    link.server = url.host;
    link.port = url.port;
    return static_cast<bool>(link.connection);
}

} // namespace

Link& threadLink() {
    thread_local Link link;
    return link;
}

bool perform(Exchange& exchange, Link& link, const std::string& address) {
    auto url = parseUrl(address);
    if (!url) {
        return false;
    }
    if (!link.session && !openSession(link.session)) {
        return false;
    }

    std::string verb = exchange.verb;
    bool withBody = exchange.body != nullptr;
    Internet request;
    for (int redirects = 0;; ++redirects) {
        request.reset();
        if (!connectTo(link, *url) ||
            !openRequest(exchange, link.connection.handle, *url, verb, withBody, request)) {
            return false;
        }
        // The request handle's context owns a share of the completion record until WinHTTP
        // reports the handle closing.
        DWORD_PTR context = 0;
        const auto completion = attachCompletion(request.handle, context);
        if (!completion) {
            return false;
        }

        if (!exchangeHeaders(exchange, request.handle, *completion, context, *url, withBody)) {
            return false;
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(
                request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return false;
        }
        exchange.pace.arrived(rawHeaderBytes(request.handle), HttpClock::now());

        const auto location = status >= 300 && status <= 399
                                  ? responseHeader(request.handle, WINHTTP_QUERY_LOCATION)
                                  : std::nullopt;
        if (!location) {
            exchange.status = status;
            exchange.headersDone = true;
            const bool bodyExpected =
                verb != "HEAD" && status >= 200 && status != 204 && status != 304;
            return readBody(exchange, request.handle, *completion, bodyExpected);
        }

        if (redirects == maxRedirects) {
            return false;
        }
        // A redirect goes to http or https only, never from https down to http, and never to
        // an address naming a user or password: the launcher has no login to give.
        const auto next = resolveLocation(*url, narrow(*location));
        auto target = next ? parseUrl(*next) : std::nullopt;
        if (!target || target->login || (url->secure && !target->secure)) {
            exchange.refused = true;
            return false;
        }
        url = std::move(target);
        // As browsers and libcurl do: 303 asks for a GET; 301 and 302 turn a POST into one.
        if ((status == 303 && verb != "HEAD") ||
            ((status == 301 || status == 302) && verb == "POST")) {
            verb = "GET";
            withBody = false;
        }
    }
}

} // namespace orvanta
