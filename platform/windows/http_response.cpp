// Reading the response that ends a Windows transfer: its length, its body, chunk by chunk.
#include "platform/windows/http_response.hpp"

#include "platform/header_text.hpp"

#include <chrono>

namespace orvanta {
namespace {

constexpr std::size_t downloadBufferBytes = 256u * 1024u;
constexpr std::size_t textBufferBytes = 64u * 1024u;

// The body length the response announces; none when it announces none or is chunked.
std::optional<std::uint64_t> announcedLength(HINTERNET request) {
    if (const auto coding = responseHeader(request, WINHTTP_QUERY_TRANSFER_ENCODING)) {
        if (narrow(*coding).find("chunked") != std::string::npos) {
            return std::nullopt;
        }
    }
    const auto header = responseHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!header) {
        return std::nullopt;
    }
    const std::string value(trimmed(narrow(*header)));
    if (value.empty() || value.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return length;
}

// The ranged request's verdict on the response, from all its header lines (a response may
// carry a header twice, which a single query would hide).
RangeAnswer::Verdict judgeRanges(RangeAnswer& answer, HINTERNET request, DWORD status) {
    answer.startResponse();
    const auto raw = responseHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    const std::string text = raw ? narrow(*raw) : std::string();
    std::string_view lines = text;
    for (bool statusLine = true; !lines.empty(); statusLine = false) {
        const auto end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        const auto colon = line.find(':');
        if (!statusLine && colon != std::string_view::npos) {
            answer.header(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
    }
    return answer.headersEnd(static_cast<long>(status));
}

// Called once the headers of the response that ends the chain are in; false ends the transfer.
bool acceptResponse(Exchange& exchange, HINTERNET request, std::optional<std::uint64_t> length) {
    if (exchange.kind == Exchange::Kind::Text) {
        if (length && *length > exchange.limits.maxTextBytes) {
            exchange.refused = true;
            return false;
        }
        return true;
    }
    // Anything but the range asked for, a whole file answered 200 among them, ends the transfer
    // before a byte of its body reaches the sink.
    if (exchange.rangeAnswer != nullptr &&
        judgeRanges(*exchange.rangeAnswer, request, exchange.status) !=
            RangeAnswer::Verdict::accepted) {
        exchange.refused = true;
        return false;
    }
    if (exchange.status < 200 || exchange.status > 299) {
        return false;
    }
    exchange.total = length.value_or(0);
    if (!exchange.sink->open()) {
        exchange.sinkFailed = true;
        return false;
    }
    exchange.sinkOpen = true;
    return true;
}

// Takes one chunk of the final response's body; false ends the transfer.
bool acceptChunk(Exchange& exchange, const char* data, std::size_t size) {
    if (exchange.kind == Exchange::Kind::Text) {
        if (exchange.text.size() + size > exchange.limits.maxTextBytes) {
            exchange.refused = true;
            return false;
        }
        exchange.text.append(data, size);
        return true;
    }
    if (!exchange.sink->write(data, size)) {
        exchange.sinkFailed = true;
        return false;
    }
    exchange.received += size;
    if (*exchange.progress) {
        (*exchange.progress)(exchange.received, exchange.total);
    }
    return true;
}

// Reads beyond what WinHTTP has ready. Windows ends a read with what has arrived; Wine's WinHTTP
// fills the whole buffer, and has at most its own 8 KiB buffer ready at a time, so reading only
// what is ready would cost two round trips through WinHTTP's worker thread for every 8 KiB. While
// a download's body flows (the last read came full, or several KiB are ready), it asks for more,
// without asking first what is ready, but never for more than a server keeping the minimum pace
// delivers before the pace deadline: such a read always ends before that deadline unless the
// server falls behind. A small piece (a trickle, a chunk on its own) is taken and reported as it
// comes, and a text always takes what is ready.
constexpr std::size_t flowingBytes = 4096;

std::size_t extendedRead(const Exchange& exchange, std::size_t bufferBytes) {
    if (exchange.kind != Exchange::Kind::File) {
        return 0;
    }
    const HttpClock::time_point deadline = exchange.pace.deadline();
    if (deadline == HttpClock::time_point::max()) {
        return bufferBytes;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - HttpClock::now()).count();
    const std::uint64_t paced = exchange.limits.minimumAverageBytesPerSecond *
                                static_cast<std::uint64_t>(std::max<long long>(left, 0)) / 1000u;
    return paced < flowingBytes
               ? 0
               : static_cast<std::size_t>(std::min<std::uint64_t>(paced, bufferBytes));
}

} // namespace

std::optional<std::wstring> responseHeader(HINTERNET request, DWORD query) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) {
        return std::nullopt;
    }
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        return std::nullopt;
    }
    value.resize(bytes / sizeof(wchar_t));
    return value;
}

bool readBody(Exchange& exchange, HINTERNET request, Completion& completion, bool bodyExpected) {
    const std::optional<std::uint64_t> length = announcedLength(request);
    if (!acceptResponse(exchange, request, length)) {
        return false;
    }
    const std::size_t bufferBytes =
        exchange.kind == Exchange::Kind::File ? downloadBufferBytes : textBufferBytes;
    std::uint64_t bodyBytes = 0;
    bool flowing = false;
    for (;;) {
        std::size_t want = flowing ? extendedRead(exchange, bufferBytes) : 0;
        if (want == 0) {
            prepare(completion);
            if (!limitSockets(request, exchange) || !WinHttpQueryDataAvailable(request, nullptr) ||
                !completed(completion, exchange)) {
                return false;
            }
            const std::size_t available = completion.count;
            if (available == 0) {
                break;
            }
            want = std::min(available >= flowingBytes
                                ? std::max(available, extendedRead(exchange, bufferBytes))
                                : available,
                            bufferBytes);
        }
        if (completion.buffer.size() < want) {
            completion.buffer.resize(want);
        }
        prepare(completion);
        if (!limitSockets(request, exchange) ||
            !WinHttpReadData(request, completion.buffer.data(), static_cast<DWORD>(want),
                             nullptr) ||
            !completed(completion, exchange)) {
            return false;
        }
        const std::size_t got = std::min<std::size_t>(completion.count, want);
        if (got == 0) {
            break;
        }
        flowing = got >= flowingBytes && got == want;
        bodyBytes += got;
        exchange.pace.arrived(got, HttpClock::now());
        if (!acceptChunk(exchange, completion.buffer.data(), got)) {
            return false;
        }
    }
    // A body shorter than announced was cut short, whatever WinHTTP made of the closed
    // connection.
    return !bodyExpected || !length || bodyBytes >= *length;
}

std::size_t rawHeaderBytes(HINTERNET request) {
    const auto raw = responseHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF);
    return raw ? raw->size() : 0;
}

} // namespace orvanta
