// HTTP(S) transfers over WinHTTP.
#include "platform/http.hpp"

namespace orvanta {

bool splitUrl(const std::string&, std::string&, std::string&, bool&, std::uint16_t&) {
    return false;
}

bool splitUrl(const std::string& url, std::string& host, std::string& path, bool& secure) {
    std::uint16_t port = 0;
    return splitUrl(url, host, path, secure, port);
}

std::optional<HttpResponse> httpRequest(const std::string&, const std::string&,
                                        const std::optional<std::string>&,
                                        const std::optional<std::string>&) {
    return std::nullopt;
}

std::optional<HttpResponse> fetchText(const std::string& url) {
    return httpRequest(url, "GET", std::nullopt, std::nullopt);
}

bool downloadToSink(const std::string&, const DownloadSink&, ProgressCallback) {
    return false;
}

bool downloadToFile(const std::string&, const std::string&, ProgressCallback) {
    return false;
}

HttpLimits& httpLimits() {
    static HttpLimits limits;
    return limits;
}

} // namespace orvanta
