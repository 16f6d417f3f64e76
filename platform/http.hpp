#pragma once

#include "platform/url.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvanta {

struct HttpResponse {
    std::uint32_t statusCode;
    std::string body;
};

// Called after every chunk written: bytes received so far, and the Content-Length (0 if unknown).
using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;

// One synchronous request. Absent when no response arrived; present whatever its status.
std::optional<HttpResponse> httpRequest(const std::string& url, const std::string& verb,
                                        const std::optional<std::string>& headers,
                                        const std::optional<std::string>& body);

// GET of a small document into memory (bodies over the text limit give no response).
std::optional<HttpResponse> fetchText(const std::string& url);

// fetchText that asks every cache on the way to check its copy with the origin first
// (Cache-Control: no-cache): for the documents that change under one name.
std::optional<HttpResponse> fetchRevalidated(const std::string& url);

// GET streamed into destinationPath. True only for a 2xx status whose whole body reached the file.
bool downloadToFile(const std::string& url, const std::string& destinationPath,
                    ProgressCallback progress);

// Where a download's body goes. open() is called once, when the headers of a 2xx final response
// have arrived; write() then receives the body chunk by chunk. Either returning false ends the
// transfer at once as a failure.
struct DownloadSink {
    std::function<bool()> open;
    std::function<bool(const char* data, std::size_t size)> write;
};

// GET streamed into sink. True only for a 2xx status whose whole body the sink accepted.
bool downloadToSink(const std::string& url, const DownloadSink& sink, ProgressCallback progress);

// Transfer limits. The defaults are the product's; tests shorten them.
struct HttpLimits {
    // Reaching the server, TLS handshake included, may take 60 s.
    long connectTimeoutSeconds = 60;
    // A text request (httpRequest, fetchText) ends after 60 s in all, connecting included.
    long textTimeoutSeconds = 60;
    // A download fails once any 60 s of it, counted from its start (so waiting for the answer
    // counts), brought fewer than 1 KiB a second on average: fewer than 60 KiB in that minute.
    std::uint64_t minimumAverageBytesPerSecond = 1024;
    long averageWindowSeconds = 60;
    std::uint64_t maxTextBytes = 4u * 1024u * 1024u;
    std::string caBundle; // PEM bundle trusted instead of the system store; empty: the build's
};
HttpLimits& httpLimits();

// The PEM bundle the program was built to trust instead of the system store (ORVANTA_CA_BUNDLE),
// compiled in; empty: the system store.
extern const std::string_view builtInCaBundle;

} // namespace orvanta
