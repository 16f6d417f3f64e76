#pragma once

#include <curl/curl.h>

namespace orvanta {

// Sets what a transfer trusts for https: the peer and its host name verified, TLS 1.2 and
// OpenSSL security level 2 at least, against the configured bundle or the system store. False
// when curl refuses one of the options.
bool applyTlsPolicy(CURL* handle);

} // namespace orvanta
