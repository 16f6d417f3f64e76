#pragma once

// What the libcurl transfers share: the easy handle, the options every request carries and the
// rule a redirect must keep.
#include "platform/url.hpp"

#include <curl/curl.h>
#include <memory>
#include <string_view>

namespace orvanta {

// False when libcurl could not be set up; then no transfer runs.
bool curlReady();

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// The status of the response being read; 0 when none has come yet.
long responseCode(CURL* handle);

// A redirect away from https must stay on https, hop by hop, whatever the first URL was.
bool redirectKeepsTls(CURL* handle, std::string_view location);

// The options every request to url shares, its callbacks aside: agent, redirects, no login,
// connect timeout and the TLS policy. False when curl refuses one of them.
bool setRequestOptions(CURL* handle, const Url& url);

} // namespace orvanta
