// What the transfers trust for https, on libcurl and OpenSSL.
#include "platform/posix/http_tls.hpp"

#include "platform/http.hpp"

#include <openssl/ssl.h>
#include <string>

namespace orvanta {
namespace {

// The launcher's own TLS floor, whatever the system's OpenSSL configuration allows: TLS 1.2 at
// least, and OpenSSL security level 2 at least, which demands keys of 112-bit strength (RSA and
// DH of 2048 bits, elliptic curves of 224) and refuses SHA-1 signatures. A stricter level set by
// the system is kept.
constexpr int minimumSecurityLevel = 2;

CURLcode raiseTlsFloor(CURL*, void* context, void*) {
    auto* ssl = static_cast<SSL_CTX*>(context);
    if (SSL_CTX_get_security_level(ssl) < minimumSecurityLevel) {
        SSL_CTX_set_security_level(ssl, minimumSecurityLevel);
    }
    if (SSL_CTX_get_min_proto_version(ssl) < TLS1_2_VERSION &&
        SSL_CTX_set_min_proto_version(ssl, TLS1_2_VERSION) != 1) {
        return CURLE_SSL_CIPHER;
    }
    return CURLE_OK;
}

} // namespace

bool applyTlsPolicy(CURL* handle) {
    CURLcode result = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, option, value);
        }
    };
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set(CURLOPT_SSL_CTX_FUNCTION, &raiseTlsFloor);
    // A bundle replaces the system store rather than adding to it: the limits' file, else the
    // one compiled in. libcurl keeps its own copy of the blob.
    const std::string& configured = httpLimits().caBundle;
    if (!configured.empty()) {
        set(CURLOPT_CAINFO, configured.c_str());
        set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    } else if (!builtInCaBundle.empty()) {
        curl_blob blob{const_cast<char*>(builtInCaBundle.data()), builtInCaBundle.size(),
                       CURL_BLOB_COPY};
        set(CURLOPT_CAINFO_BLOB, &blob);
        set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
        set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    return result == CURLE_OK;
}

} // namespace orvanta
