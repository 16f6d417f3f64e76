// HTTP(S) transfers over WinHTTP: one session a thread, its connections kept between calls
// (http_transfer.hpp runs them).
#include "platform/http.hpp"

#include "platform/header_text.hpp"
#include "platform/windows/http_transfer.hpp"

#include <chrono>
#include <utility>

namespace orvanta {

std::optional<HttpResponse> httpRequest(const std::string& url, const std::string& verb,
                                        const std::optional<std::string>& headers,
                                        const std::optional<std::string>& body) {
    Exchange exchange;
    exchange.kind = Exchange::Kind::Text;
    exchange.limits = httpLimits();
    if (exchange.limits.textTimeoutSeconds > 0) {
        exchange.textDeadline =
            HttpClock::now() + std::chrono::seconds(exchange.limits.textTimeoutSeconds);
    }
    exchange.verb = verb.empty() ? (body ? "POST" : "GET") : verb;
    if (headers) {
        exchange.headerLines = splitHeaderLines(*headers);
    }
    if (body) {
        if (body->size() > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        exchange.body = &*body;
    }
    exchange.keepConnection = true;
    const bool whole = perform(exchange, threadLink(), url);
    if (exchange.refused) {
        return std::nullopt;
    }
    // A response whose headers arrived counts even when its body was cut short.
    if (!whole && !exchange.headersDone) {
        return std::nullopt;
    }
    return HttpResponse{exchange.status, std::move(exchange.text)};
}

bool downloadToSink(const std::string& url, const DownloadSink& sink, ProgressCallback progress) {
    Exchange exchange;
    exchange.kind = Exchange::Kind::File;
    exchange.limits = httpLimits();
    exchange.sink = &sink;
    exchange.progress = &progress;
    if (exchange.limits.averageWindowSeconds > 0 &&
        exchange.limits.minimumAverageBytesPerSecond > 0) {
        exchange.pace.watch(HttpClock::now(),
                            std::chrono::seconds(exchange.limits.averageWindowSeconds),
                            exchange.limits.minimumAverageBytesPerSecond *
                                static_cast<std::uint64_t>(exchange.limits.averageWindowSeconds));
    }
    exchange.keepConnection = true;
    const bool whole = perform(exchange, threadLink(), url);
    return whole && exchange.sinkOpen && !exchange.sinkFailed;
}

bool downloadToFile(const std::string& url, const std::string& destinationPath,
                    ProgressCallback progress) {
    Handle file;
    const DownloadSink sink{
        [&] {
            const std::wstring wide = widen(destinationPath);
            if (wide.empty()) {
                return false;
            }
            file.handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            return file.valid();
        },
        [&](const char* data, std::size_t size) {
            while (size > 0) {
                const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
                DWORD written = 0;
                if (!WriteFile(file.handle, data, chunk, &written, nullptr) || written == 0) {
                    return false;
                }
                data += written;
                size -= written;
            }
            return true;
        }};
    if (!downloadToSink(url, sink, std::move(progress)) || !file.valid()) {
        return false;
    }
    return CloseHandle(file.release()) != FALSE;
}

} // namespace orvanta
