// Placeholder until the libcurl transfers land.
#include "platform/http.hpp"

namespace orvanta {
bool splitUrl(const std::string&, std::string&, std::string&, bool&, std::uint16_t&) { return false; }
bool splitUrl(const std::string&, std::string&, std::string&, bool&) { return false; }
std::optional<HttpResponse> httpRequest(const std::string&, const std::string&,
                                        const std::optional<std::string>&,
                                        const std::optional<std::string>&) { return std::nullopt; }
std::optional<HttpResponse> fetchText(const std::string&) { return std::nullopt; }
bool downloadToFile(const std::string&, const std::string&, ProgressCallback) { return false; }
HttpLimits& httpLimits() { static HttpLimits limits; return limits; }
} // namespace orvanta
