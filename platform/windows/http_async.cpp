#include "platform/windows/http_async.hpp"

#include <algorithm>
#include <climits>

namespace orvanta {
namespace {

using namespace std::chrono_literals;

// The connect limit when none is set, as libcurl has it.
constexpr long defaultConnectSeconds = 300;
// Socket timeouts reach this far past a deadline: the wait for the operation decides first.
constexpr auto socketGrace = 2s;

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                       DWORD length) {
    auto* owner = reinterpret_cast<std::shared_ptr<Completion>*>(context);
    if (owner == nullptr) {
        return;
    }
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        delete owner; // the last report for the handle
        return;
    }
    Completion& completion = **owner;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        completion.count = 0;
        break;
    case WINHTTP_CALLBACK_STATUS_WRITE_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        completion.count = information != nullptr ? *static_cast<DWORD*>(information) : 0;
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        completion.count = length;
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* result = static_cast<WINHTTP_ASYNC_RESULT*>(information);
        completion.error = result != nullptr && result->dwError != ERROR_SUCCESS
                               ? result->dwError
                               : static_cast<DWORD>(ERROR_WINHTTP_INTERNAL_ERROR);
        break;
    }
    default:
        return;
    }
    SetEvent(completion.signal.handle);
}

constexpr DWORD reportedStatus =
    WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

DWORD millisecondsIn(HttpClock::duration span) {
    const auto count = std::chrono::ceil<std::chrono::milliseconds>(span).count();
    return static_cast<DWORD>(std::clamp<long long>(count, 1, INT_MAX));
}

} // namespace

bool reportCompletions(HINTERNET session) {
    return WinHttpSetStatusCallback(session, &onStatus, reportedStatus, 0) !=
           WINHTTP_INVALID_STATUS_CALLBACK;
}

std::shared_ptr<Completion> attachCompletion(HINTERNET request, DWORD_PTR& context) {
    auto completion = std::make_shared<Completion>();
    if (!completion->signal.valid()) {
        return nullptr;
    }
    auto owner = std::make_unique<std::shared_ptr<Completion>>(completion);
    context = reinterpret_cast<DWORD_PTR>(owner.get());
    if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
        return nullptr;
    }
    static_cast<void>(owner.release());
    return completion;
}

void prepare(Completion& completion) {
    completion.error = ERROR_SUCCESS;
    completion.count = 0;
    ResetEvent(completion.signal.handle);
}

bool completed(Completion& completion, HttpClock::time_point deadline) {
    for (;;) {
        DWORD wait = INFINITE;
        if (deadline != HttpClock::time_point::max()) {
            const HttpClock::time_point now = HttpClock::now();
            if (now >= deadline) {
                return false;
            }
            wait = millisecondsIn(deadline - now);
        }
        const DWORD result = WaitForSingleObject(completion.signal.handle, wait);
        if (result == WAIT_OBJECT_0) {
            return completion.error == ERROR_SUCCESS;
        }
        if (result != WAIT_TIMEOUT) {
            return false;
        }
    }
}

bool limitSockets(HINTERNET request, long connectTimeoutSeconds, HttpClock::time_point deadline) {
    const long seconds = connectTimeoutSeconds > 0 ? connectTimeoutSeconds : defaultConnectSeconds;
    DWORD connect = millisecondsIn(std::chrono::seconds(seconds));
    int rest = 0; // no limit
    if (deadline != HttpClock::time_point::max()) {
        const HttpClock::duration left =
            std::max<HttpClock::duration>(deadline - HttpClock::now(), 0s);
        connect = std::min(connect, millisecondsIn(left));
        rest = static_cast<int>(millisecondsIn(left + socketGrace));
    }
    const int connectTimeout = static_cast<int>(connect);
    DWORD response = rest == 0 ? INFINITE : static_cast<DWORD>(rest);
    return WinHttpSetTimeouts(request, connectTimeout, connectTimeout, rest, rest) != FALSE &&
           WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response,
                            sizeof response) != FALSE;
}

} // namespace orvanta
