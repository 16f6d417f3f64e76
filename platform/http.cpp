// What both platforms' transfers share: the text fetch on top of httpRequest, and the limits.
#include "platform/http.hpp"

namespace orvanta {

std::optional<HttpResponse> fetchText(const std::string& url) {
    return httpRequest(url, "GET", std::nullopt, std::nullopt);
}

std::optional<HttpResponse> fetchRevalidated(const std::string& url) {
    return httpRequest(url, "GET", std::string("Cache-Control: no-cache"), std::nullopt);
}

HttpLimits& httpLimits() {
    static HttpLimits limits;
    return limits;
}

} // namespace orvanta
