#pragma once

// One Windows transfer through its redirects. The session is asynchronous so that every transfer
// ends by its deadline (http_async.hpp); a redirect is followed here, hop by hop, under the same
// rules as the libcurl transfers.
#include "platform/windows/http_async.hpp"
#include "platform/windows/http_response.hpp"

#include <string>

namespace orvanta {

// The session a transfer runs on and the connection it last used. A caller that keeps the link
// between transfers, with Exchange::keepConnection, lets them share one connection.
struct Link {
    Internet session;
    Internet connection;
    std::string server; // the host and port the connection goes to
    INTERNET_PORT port = 0;
};

// The calling thread's link: its transfers share one session, and with it the connections
// WinHTTP keeps, so the manifest, its signature, the chunk index and the pack reach one host over
// one connection.
Link& threadLink();

// Runs the transfer through at most ten redirects, opening the link's session when it has none.
// True when the final response came whole and was taken; exchange says how far it got otherwise.
bool perform(Exchange& exchange, Link& link, const std::string& address);

} // namespace orvanta
