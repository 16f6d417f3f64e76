// HTTP(S) transfers over libcurl: one easy handle per call; the thread's connections are kept
// between calls (http_curl.cpp).
#include "platform/http.hpp"

#include "platform/header_text.hpp"
#include "platform/posix/file_descriptor.hpp"
#include "platform/posix/file_sync.hpp"
#include "platform/posix/http_curl.hpp"
#include "platform/transfer_pace.hpp"
#include "platform/url.hpp"

#include <cerrno>
#include <chrono>
#include <curl/curl.h>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace orvanta {
namespace {

constexpr long downloadBufferBytes = 256L * 1024L;

struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// The state one transfer shares with its curl callbacks.
struct Exchange {
    enum class Kind { Text, File };

    Kind kind = Kind::Text;
    CURL* handle = nullptr;

    bool redirecting = false; // the response being read names a Location that curl follows
    bool headersDone = false; // the header block of the response that ends the chain arrived
    bool redirectRefused = false;
    std::exception_ptr callbackError;
    TransferPace pace;

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
    exchange.pace.arrived(bytes, TransferPace::Clock::now());

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
    exchange.pace.arrived(bytes, TransferPace::Clock::now());
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
        return exchange.pace.fellBehind(TransferPace::Clock::now()) ? 1 : 0;
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
    exchange.pace.watch(TransferPace::Clock::now(),
                        std::chrono::seconds(limits.averageWindowSeconds),
                        limits.minimumAverageBytesPerSecond *
                            static_cast<std::uint64_t>(limits.averageWindowSeconds));
    return curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onProgress) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_XFERINFODATA, static_cast<void*>(&exchange)) ==
               CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

// Options every transfer shares, with the callbacks that read headers. False when curl refuses
// one of them.
bool configure(CURL* handle, const Url& url, Exchange& exchange) {
    return setRequestOptions(handle, url) &&
           curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &onHeader) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HEADERDATA, static_cast<void*>(&exchange)) ==
               CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(&exchange)) == CURLE_OK;
}

HeaderList headerLines(const std::string& headers, bool& ok) {
    HeaderList list;
    for (const std::string& line : splitHeaderLines(headers)) {
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

} // namespace orvanta
