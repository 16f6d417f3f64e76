#pragma once

// What the Windows transfers trust for https, and the check of the certificate a server shows.
#include "platform/http.hpp"
#include "platform/url.hpp"
#include "platform/windows/win32.hpp"

#include <memory>
#include <wincrypt.h>
#include <winhttp.h>

namespace orvanta {

struct CertStoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;

// The system store, or the roots of a PEM bundle alone.
struct Trust {
    bool bundleConfigured = false;
    CertStore bundle; // empty when configured but unusable: then no https transfer succeeds
};

// The trust the limits' bundle (else the build's) sets up.
Trust loadTrust(const HttpLimits& limits);

// Checks the certificate the server presented on an https request, once the request is sent.
bool serverTrusted(HINTERNET request, const Url& url, const Trust& trust);

} // namespace orvanta
