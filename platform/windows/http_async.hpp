#pragma once

// The asynchronous WinHTTP session the transfers run on, and how a transfer waits for it.
//
// WinHTTP's own timeouts bound single socket operations, not a transfer as a whole, and a blocked
// synchronous call cannot be cut short under Wine: closing its handle from another thread leaves
// the socket read running until its own timeout. So the session is asynchronous. Each operation
// (send, receive the headers, ask for data, read it) is started, and the calling thread waits for
// its completion until the transfer's deadline. Once the deadline passes, the call closes its
// handles and returns at once. WinHTTP may still finish the abandoned operation later, so what it
// writes to (the completion record and the read buffer) is owned through the request handle's
// context and freed when WinHTTP reports that handle closing. Every operation also gets socket
// timeouts reaching just past its deadline, so an abandoned one ends soon after the call has
// returned.
#include "platform/windows/win32.hpp"

#include <chrono>
#include <memory>
#include <vector>
#include <winhttp.h>

namespace orvanta {

using HttpClock = std::chrono::steady_clock;

// A WinHTTP handle, closed when the scope ends.
struct Internet {
    explicit Internet(HINTERNET value = nullptr) : handle(value) {}
    Internet(const Internet&) = delete;
    Internet& operator=(const Internet&) = delete;
    ~Internet() { reset(); }
    void reset(HINTERNET value = nullptr) {
        if (handle != nullptr) {
            WinHttpCloseHandle(handle);
        }
        handle = value;
    }
    explicit operator bool() const { return handle != nullptr; }

    HINTERNET handle;
};

// Where WinHTTP reports the end of the operation running on one request. Shared between the
// transfer and the request handle's context, so an operation abandoned at a deadline may still
// complete into it after the transfer has returned.
struct Completion {
    Handle signal{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Written by the status callback before signal is set; read after it is.
    DWORD error = ERROR_SUCCESS;
    DWORD count = 0;
    std::vector<char> buffer; // where reads land
};

// Makes the asynchronous session report its completions to the records of its requests.
bool reportCompletions(HINTERNET session);

// Gives the request a completion record, owned through its context until WinHTTP reports the
// handle closing; context is the value its operations pass on. None on failure.
std::shared_ptr<Completion> attachCompletion(HINTERNET request, DWORD_PTR& context);

// Readies the record before an operation starts.
void prepare(Completion& completion);

// Waits until the operation just started completes, or the deadline passes (never, for
// HttpClock::time_point::max()). True when it completed without error.
bool completed(Completion& completion, HttpClock::time_point deadline);

// Socket timeouts for the next operation: the connect limit (the default one when not
// positive) for reaching the server, and past the deadline for the rest, so an operation left
// behind at the deadline ends too.
bool limitSockets(HINTERNET request, long connectTimeoutSeconds, HttpClock::time_point deadline);

} // namespace orvanta
