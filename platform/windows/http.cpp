// HTTP(S) transfers over WinHTTP: one session per call, nothing kept between calls.
//
// Time limits. WinHTTP's own timeouts bound single socket operations, not a transfer as a whole,
// and a blocked synchronous call cannot be cut short under Wine: closing its handle from another
// thread leaves the socket read running until its own timeout. So the session is asynchronous.
// Each operation (send, receive the headers, ask for data, read it) is started, and the calling
// thread waits for its completion until the transfer's deadline: the end of a text request's time,
// or the moment a download's average pace would fall below the floor if nothing more came. Once
// the deadline passes, the call closes its handles and returns at once. WinHTTP may still finish
// the abandoned operation later, so what it writes to (the completion record and the read buffer)
// is owned through the request handle's context and freed when WinHTTP reports that handle
// closing. Every operation also gets socket timeouts reaching just past its deadline, so an
// abandoned one ends soon after the call has returned.
#include "platform/http.hpp"

#include "platform/header_text.hpp"
#include "platform/small_file.hpp"
#include "platform/transfer_pace.hpp"
#include "platform/url.hpp"
#include "platform/windows/win32.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>
#include <wincrypt.h>
#include <winhttp.h>

#ifndef ORVANTA_CA_BUNDLE
#define ORVANTA_CA_BUNDLE ""
#endif

namespace orvanta {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const wchar_t* userAgent = L"Orvanta/1.0";
constexpr int maxRedirects = 10;
constexpr std::size_t downloadBufferBytes = 256u * 1024u;
constexpr std::size_t textBufferBytes = 64u * 1024u;
// The connect limit when none is set, as libcurl has it.
constexpr long defaultConnectSeconds = 300;
// Socket timeouts reach this far past a deadline: the wait for the operation decides first.
constexpr auto socketGrace = 2s;
constexpr DWORD certificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// ---------------------------------------------------------------------------------------------
// Handles

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

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<void, StoreCloser>;

struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;

struct ChainFreer {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

struct EngineFreer {
    void operator()(void* engine) const {
        CertFreeCertificateChainEngine(static_cast<HCERTCHAINENGINE>(engine));
    }
};
using ChainEngine = std::unique_ptr<void, EngineFreer>;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// ---------------------------------------------------------------------------------------------
// Asynchronous operations

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

DWORD millisecondsIn(Clock::duration span) {
    const auto count = std::chrono::ceil<std::chrono::milliseconds>(span).count();
    return static_cast<DWORD>(std::clamp<long long>(count, 1, INT_MAX));
}

// ---------------------------------------------------------------------------------------------
// Certificates

// The roots trusted instead of the system store, when a bundle is configured.
std::string trustedBundlePath(const HttpLimits& limits) {
    if (!limits.caBundle.empty()) {
        return limits.caBundle;
    }
    return ORVANTA_CA_BUNDLE;
}

constexpr std::size_t maxBundleBytes = 16 * 1024 * 1024;

// A memory store holding every certificate of a PEM bundle; none when the file cannot be read,
// holds no certificate, or holds one that does not decode.
CertStore loadBundle(const std::string& path) {
    const auto text = readSmallFile(path, maxBundleBytes);
    if (!text) {
        return nullptr;
    }
    CertStore store(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) {
        return nullptr;
    }
    static constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view end = "-----END CERTIFICATE-----";
    std::size_t count = 0;
    for (std::size_t at = text->find(begin); at != std::string::npos; at = text->find(begin, at)) {
        const auto stop = text->find(end, at + begin.size());
        if (stop == std::string::npos) {
            return nullptr;
        }
        const std::size_t length = stop + end.size() - at;
        DWORD size = 0;
        if (!CryptStringToBinaryA(text->data() + at, static_cast<DWORD>(length),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) ||
            size == 0) {
            return nullptr;
        }
        std::vector<BYTE> der(size);
        if (!CryptStringToBinaryA(text->data() + at, static_cast<DWORD>(length),
                                  CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) ||
            !CertAddEncodedCertificateToStore(store.get(), certificateEncoding, der.data(), size,
                                              CERT_STORE_ADD_ALWAYS, nullptr)) {
            return nullptr;
        }
        ++count;
        at = stop + end.size();
    }
    if (count == 0) {
        return nullptr;
    }
    return store;
}

bool sameBytes(const CERT_CONTEXT& a, const CERT_CONTEXT& b) {
    return a.cbCertEncoded == b.cbCertEncoded &&
           std::memcmp(a.pbCertEncoded, b.pbCertEncoded, a.cbCertEncoded) == 0;
}

bool storeHolds(HCERTSTORE store, const CERT_CONTEXT& certificate) {
    const CERT_CONTEXT* entry = nullptr;
    while ((entry = CertEnumCertificatesInStore(store, entry)) != nullptr) {
        if (sameBytes(*entry, certificate)) {
            CertFreeCertificateContext(entry);
            return true;
        }
    }
    return false;
}

bool selfIssued(const CERT_CONTEXT& certificate) {
    return CertCompareCertificateName(certificateEncoding, &certificate.pCertInfo->Subject,
                                      &certificate.pCertInfo->Issuer) != FALSE;
}

// The launcher's floor for every certificate the server's chain holds, its root included: RSA,
// DSA and DH keys of 2048 bits, elliptic curves of 224, and no signature made with SHA-1 or
// older hashes (a root's signature on itself vouches for nothing and is not judged).
bool strongEnough(const CERT_CONTEXT& certificate) {
    const CERT_PUBLIC_KEY_INFO& key = certificate.pCertInfo->SubjectPublicKeyInfo;
    const std::string_view algorithm = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    if (algorithm == szOID_ECC_PUBLIC_KEY) {
        // An uncompressed point (0x04, x, y) or a compressed one (0x02 or 0x03, x).
        const CRYPT_BIT_BLOB& point = key.PublicKey;
        if (point.cbData < 2) {
            return false;
        }
        const DWORD coordinate =
            point.pbData[0] == 0x04 ? (point.cbData - 1) / 2 : point.cbData - 1;
        if (coordinate * 8 < 224) {
            return false;
        }
    } else if (algorithm == szOID_RSA_RSA || algorithm == "1.2.840.113549.1.1.10" ||
               algorithm == szOID_X957_DSA || algorithm == szOID_ANSI_X942_DH ||
               algorithm == szOID_RSA_DH) {
        if (CertGetPublicKeyLength(X509_ASN_ENCODING, const_cast<CERT_PUBLIC_KEY_INFO*>(&key)) <
            2048) {
            return false;
        }
    } else if (algorithm != "1.3.101.112" && algorithm != "1.3.101.113") { // Ed25519, Ed448
        return false;
    }
    if (selfIssued(certificate)) {
        return true;
    }
    static constexpr std::string_view weakSignatures[] = {
        "1.2.840.113549.1.1.2", // md2WithRSAEncryption
        "1.2.840.113549.1.1.3", // md4WithRSAEncryption
        "1.2.840.113549.1.1.4", // md5WithRSAEncryption
        "1.2.840.113549.1.1.5", // sha1WithRSAEncryption
        "1.3.14.3.2.3",         // md5WithRSA
        "1.3.14.3.2.29",        // sha1WithRSA
        "1.3.14.3.2.13",        // dsaWithSHA
        "1.3.14.3.2.27",        // dsaWithSHA1
        "1.2.840.10040.4.3",    // dsa-with-sha1
        "1.2.840.10045.4.1",    // ecdsa-with-SHA1
    };
    const char* signature = certificate.pCertInfo->SignatureAlgorithm.pszObjId;
    if (signature == nullptr) {
        return false;
    }
    return std::find(std::begin(weakSignatures), std::end(weakSignatures),
                     std::string_view(signature)) == std::end(weakSignatures);
}

// True when the certificate names the address among its subject alternative names, the one
// place a certificate names an IP address.
bool certifiesAddress(const CERT_CONTEXT& certificate, const std::vector<unsigned char>& address) {
    const CERT_INFO& info = *certificate.pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
    if (extension == nullptr) {
        return false;
    }
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                             extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                             &size) ||
        names == nullptr) {
        return false;
    }
    const std::unique_ptr<void, LocalFreer> owned(names);
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == address.size() &&
            std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0) {
            return true;
        }
    }
    return false;
}

// What the transfers trust for https: the system store, or the roots of a PEM bundle alone.
struct Trust {
    bool bundleConfigured = false;
    CertStore bundle; // empty when configured but unusable: then no https transfer succeeds
};

// Checks the certificate the server presented on an https request, once the request is sent.
//
// With a bundle, WinHTTP was told to accept any root (SECURITY_FLAG_IGNORE_UNKNOWN_CA) and this
// check decides: the chain is built by an engine whose only roots are the bundle's
// (CERT_CHAIN_ENGINE_CONFIG::hExclusiveRoot), must end in a self-issued certificate
// byte-identical to one of the bundle's, and must pass the SSL policy for the host name. Where
// the crypto library knows no exclusive root (the engine cannot be made), the chain is built by
// the default engine with the bundle as an additional store; then the only error allowed is the
// untrusted root, which the identical-root rule covers, and the policy runs told to overlook
// exactly that.
//
// Without a bundle WinHTTP has already verified the chain against the system store, the host
// name included, and this check only adds the launcher's floor on keys and signatures.
//
// A host written as an IP address is matched here, against the certificate's IP address
// entries, as WinHTTP under Wine matches no certificate to an address (error 12038); WinHTTP
// is told to leave that one check to this function.
bool serverTrusted(HINTERNET request, const Url& url, const Trust& trust) {
    const CERT_CONTEXT* presented = nullptr;
    DWORD size = sizeof presented;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &presented, &size) ||
        presented == nullptr) {
        return false;
    }
    const Certificate server(presented);
    if (trust.bundleConfigured && !trust.bundle) {
        return false;
    }

    CertStore extra(
        CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!extra ||
        (server->hCertStore != nullptr &&
         !CertAddStoreToCollection(extra.get(), server->hCertStore, 0, 0)) ||
        (trust.bundle && !CertAddStoreToCollection(extra.get(), trust.bundle.get(), 0, 0))) {
        return false;
    }

    ChainEngine engine;
    bool exclusive = false;
    if (trust.bundle) {
        CERT_CHAIN_ENGINE_CONFIG config{};
        config.cbSize = sizeof config;
        config.hExclusiveRoot = trust.bundle.get();
        HCERTCHAINENGINE made = nullptr;
        if (CertCreateCertificateChainEngine(&config, &made) && made != nullptr) {
            engine.reset(made);
            exclusive = true;
        }
    }

    static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    const CERT_CHAIN_CONTEXT* built = nullptr;
    if (!CertGetCertificateChain(static_cast<HCERTCHAINENGINE>(engine.get()), server.get(), nullptr,
                                 extra.get(), &parameters, 0, nullptr, &built) ||
        built == nullptr) {
        return false;
    }
    const Chain chain(built);
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        return false;
    }
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    for (DWORD i = 0; i < simple.cElement; ++i) {
        if (!strongEnough(*simple.rgpElement[i]->pCertContext)) {
            return false;
        }
    }

    const std::vector<unsigned char>& address = url.address;
    if (!address.empty() && !certifiesAddress(*server, address)) {
        return false;
    }
    if (!trust.bundle) {
        return true;
    }

    const CERT_CONTEXT& root = *simple.rgpElement[simple.cElement - 1]->pCertContext;
    if (!selfIssued(root) || !storeHolds(trust.bundle.get(), root)) {
        return false;
    }
    const DWORD allowed = exclusive ? 0 : static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if ((chain->TrustStatus.dwErrorStatus & ~allowed) != 0) {
        return false;
    }
    const std::wstring name = address.empty() ? widen(url.host) : std::wstring();
    if (address.empty() && name.empty()) {
        return false;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = exclusive ? 0 : SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ssl.pwszServerName = name.empty() ? nullptr : const_cast<wchar_t*>(name.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status) &&
           status.dwError == 0;
}

// ---------------------------------------------------------------------------------------------
// Transfers

// The state one transfer keeps across its requests (one per redirect).
struct Exchange {
    enum class Kind { Text, File };

    Kind kind = Kind::Text;
    std::string verb = "GET";
    std::vector<std::string> headerLines;
    const std::string* body = nullptr; // none for GET downloads and text requests without one

    HttpLimits limits;
    Clock::time_point textDeadline = Clock::time_point::max();
    TransferPace pace;
    Trust trust;
    bool trustLoaded = false;

    bool headersDone = false; // the headers of the response that ends the chain arrived
    bool refused = false;     // a redirect that must not be followed, or a text over the limit
    DWORD status = 0;

    // Kind::Text
    std::string text;

    // Kind::File
    const DownloadSink* sink = nullptr;
    ProgressCallback* progress = nullptr;
    bool sinkOpen = false;
    bool sinkFailed = false;
    std::uint64_t received = 0;
    std::uint64_t total = 0;

    Clock::time_point deadline() const { return std::min(textDeadline, pace.deadline()); }
};

// Waits until the operation just started completes, or the transfer's deadline passes.
bool completed(Completion& completion, const Exchange& exchange) {
    for (;;) {
        const Clock::time_point deadline = exchange.deadline();
        DWORD wait = INFINITE;
        if (deadline != Clock::time_point::max()) {
            const Clock::time_point now = Clock::now();
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

void prepare(Completion& completion) {
    completion.error = ERROR_SUCCESS;
    completion.count = 0;
    ResetEvent(completion.signal.handle);
}

// Socket timeouts for the next operation: the connect limit for reaching the server, and past
// the transfer's deadline for the rest, so an operation left behind at the deadline ends too.
bool limitSockets(HINTERNET request, const Exchange& exchange) {
    const long seconds = exchange.limits.connectTimeoutSeconds > 0
                             ? exchange.limits.connectTimeoutSeconds
                             : defaultConnectSeconds;
    DWORD connect = millisecondsIn(std::chrono::seconds(seconds));
    int rest = 0; // no limit
    const Clock::time_point deadline = exchange.deadline();
    if (deadline != Clock::time_point::max()) {
        const Clock::duration left = std::max<Clock::duration>(deadline - Clock::now(), 0s);
        connect = std::min(connect, millisecondsIn(left));
        rest = static_cast<int>(millisecondsIn(left + socketGrace));
    }
    const int connectTimeout = static_cast<int>(connect);
    DWORD response = rest == 0 ? INFINITE : static_cast<DWORD>(rest);
    return WinHttpSetTimeouts(request, connectTimeout, connectTimeout, rest, rest) != FALSE &&
           WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response,
                            sizeof response) != FALSE;
}

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

// Called once the headers of the response that ends the chain are in; false ends the transfer.
bool acceptResponse(Exchange& exchange, std::optional<std::uint64_t> length) {
    if (exchange.kind == Exchange::Kind::Text) {
        if (length && *length > exchange.limits.maxTextBytes) {
            exchange.refused = true;
            return false;
        }
        return true;
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

const Trust& trustFor(Exchange& exchange) {
    if (!exchange.trustLoaded) {
        exchange.trustLoaded = true;
        const std::string path = trustedBundlePath(exchange.limits);
        exchange.trust.bundleConfigured = !path.empty();
        if (exchange.trust.bundleConfigured) {
            exchange.trust.bundle = loadBundle(path);
        }
    }
    return exchange.trust;
}

// The request line and headers every request carries besides WinHTTP's own.
bool addHeaders(HINTERNET request, const Exchange& exchange, bool withBody) {
    std::vector<std::string> seen;
    bool contentType = false;
    for (const std::string& line : exchange.headerLines) {
        const std::string name(trimmed(std::string_view(line).substr(0, line.find(':'))));
        contentType = contentType || equalsIgnoringCase(name, "Content-Type");
        // A header the caller gives replaces WinHTTP's own of that name; given twice, both go.
        const bool repeated = std::any_of(seen.begin(), seen.end(), [&](const std::string& s) {
            return equalsIgnoringCase(s, name);
        });
        seen.push_back(name);
        const std::wstring wide = widen(line);
        if (wide.empty() ||
            !WinHttpAddRequestHeaders(request, wide.c_str(), static_cast<DWORD>(wide.size()),
                                      WINHTTP_ADDREQ_FLAG_ADD |
                                          (repeated ? 0 : WINHTTP_ADDREQ_FLAG_REPLACE))) {
            return false;
        }
    }
    // A body goes as a form unless the caller says otherwise, as libcurl sends one.
    if (withBody && !contentType) {
        static constexpr wchar_t form[] = L"Content-Type: application/x-www-form-urlencoded";
        return WinHttpAddRequestHeaders(request, form, static_cast<DWORD>(std::size(form) - 1),
                                        WINHTTP_ADDREQ_FLAG_ADD) != FALSE;
    }
    return true;
}

// Opens the request for one address, with everything set but the sending.
bool openRequest(Exchange& exchange, HINTERNET connection, const Url& url, const std::string& verb,
                 bool withBody, Internet& request) {
    const std::wstring wideVerb = widen(verb);
    const std::wstring target = widen(url.target());
    if (wideVerb.empty() || target.empty()) {
        return false;
    }
    LPCWSTR accept[] = {L"*/*", nullptr};
    const DWORD flags = WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY |
                        (url.secure ? WINHTTP_FLAG_SECURE : 0);
    request.reset(WinHttpOpenRequest(connection, wideVerb.c_str(), target.c_str(), nullptr,
                                     WINHTTP_NO_REFERER, accept, flags));
    if (!request) {
        return false;
    }
    // No cookies, no redirect followed behind this file's back, no login offered. Nor is a
    // connection kept once the call ends: WinHTTP under Wine pools idle connections for the whole
    // process, past the session's end, where libcurl's transfer closes its own.
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS |
                     WINHTTP_DISABLE_AUTHENTICATION | WINHTTP_DISABLE_KEEP_ALIVE;
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
    if (!WinHttpSetOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled) ||
        !WinHttpSetOption(request.handle, WINHTTP_OPTION_REDIRECT_POLICY, &redirects,
                          sizeof redirects) ||
        !WinHttpSetOption(request.handle, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon)) {
        return false;
    }
    if (url.secure) {
        const Trust& trust = trustFor(exchange);
        DWORD security = 0;
        if (trust.bundleConfigured) {
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
        }
        if (!url.address.empty()) {
            security |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        }
        if (security != 0 && !WinHttpSetOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS,
                                               &security, sizeof security)) {
            return false;
        }
    }
    return addHeaders(request.handle, exchange, withBody);
}

// Sends the request, checks the server's certificate on https before any body goes, then
// sends the body and waits for the response headers.
bool exchangeHeaders(Exchange& exchange, HINTERNET request, Completion& completion,
                     DWORD_PTR context, const Url& url, bool withBody) {
    const DWORD bodySize = withBody ? static_cast<DWORD>(exchange.body->size()) : 0;
    prepare(completion);
    if (!limitSockets(request, exchange) ||
        !WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            bodySize, context) ||
        !completed(completion, exchange)) {
        return false;
    }
    if (url.secure && !serverTrusted(request, url, trustFor(exchange))) {
        return false;
    }
    std::size_t sent = 0;
    while (sent < bodySize) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bodySize - sent, 1u << 20));
        prepare(completion);
        if (!limitSockets(request, exchange) ||
            !WinHttpWriteData(request, exchange.body->data() + sent, part, nullptr) ||
            !completed(completion, exchange) || completion.count == 0) {
            return false;
        }
        sent += completion.count;
    }
    prepare(completion);
    return limitSockets(request, exchange) && WinHttpReceiveResponse(request, nullptr) &&
           completed(completion, exchange);
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
    const Clock::time_point deadline = exchange.pace.deadline();
    if (deadline == Clock::time_point::max()) {
        return bufferBytes;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const std::uint64_t paced = exchange.limits.minimumAverageBytesPerSecond *
                                static_cast<std::uint64_t>(std::max<long long>(left, 0)) / 1000u;
    return paced < flowingBytes
               ? 0
               : static_cast<std::size_t>(std::min<std::uint64_t>(paced, bufferBytes));
}

// Reads the final response's body to its end.
bool readBody(Exchange& exchange, HINTERNET request, Completion& completion, bool bodyExpected) {
    const std::optional<std::uint64_t> length = announcedLength(request);
    if (!acceptResponse(exchange, length)) {
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
        exchange.pace.arrived(got, Clock::now());
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

// Runs the transfer through at most ten redirects. True when the final response came whole and
// was taken; exchange says how far it got otherwise.
bool perform(Exchange& exchange, const std::string& address) {
    auto url = parseUrl(address);
    if (!url) {
        return false;
    }
    Internet session(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                 WINHTTP_FLAG_ASYNC));
    if (!session) {
        return false;
    }
    // TLS 1.2 at least; TLS 1.3 too where WinHTTP knows it.
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof protocols)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        if (!WinHttpSetOption(session.handle, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                              sizeof protocols)) {
            return false;
        }
    }
    if (WinHttpSetStatusCallback(session.handle, &onStatus, reportedStatus, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        return false;
    }

    std::string verb = exchange.verb;
    bool withBody = exchange.body != nullptr;
    Internet connection;
    Internet request;
    for (int redirects = 0;; ++redirects) {
        request.reset();
        connection.reset();
        // WinHTTP takes an IPv6 address without its brackets.
        std::string server = url->host;
        if (server.size() > 2 && server.front() == '[') {
            server = server.substr(1, server.size() - 2);
        }
        const std::wstring wideServer = widen(server);
        if (wideServer.empty()) {
            return false;
        }
        connection.reset(WinHttpConnect(session.handle, wideServer.c_str(), url->port, 0));
        if (!connection ||
            !openRequest(exchange, connection.handle, *url, verb, withBody, request)) {
            return false;
        }
        // The request handle's context owns a share of the completion record until WinHTTP
        // reports the handle closing.
        auto completion = std::make_shared<Completion>();
        if (!completion->signal.valid()) {
            return false;
        }
        auto owner = std::make_unique<std::shared_ptr<Completion>>(completion);
        auto context = reinterpret_cast<DWORD_PTR>(owner.get());
        if (!WinHttpSetOption(request.handle, WINHTTP_OPTION_CONTEXT_VALUE, &context,
                              sizeof context)) {
            return false;
        }
        static_cast<void>(owner.release());

        if (!exchangeHeaders(exchange, request.handle, *completion, context, *url, withBody)) {
            return false;
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(
                request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
            return false;
        }
        exchange.pace.arrived(rawHeaderBytes(request.handle), Clock::now());

        const auto location = status >= 300 && status <= 399
                                  ? responseHeader(request.handle, WINHTTP_QUERY_LOCATION)
                                  : std::nullopt;
        if (!location) {
            exchange.status = status;
            exchange.headersDone = true;
            const bool bodyExpected =
                verb != "HEAD" && status >= 200 && status != 204 && status != 304;
            return readBody(exchange, request.handle, *completion, bodyExpected);
        }

        if (redirects == maxRedirects) {
            return false;
        }
        // A redirect goes to http or https only, never from https down to http, and never to
        // an address naming a user or password: the launcher has no login to give.
        const auto next = resolveLocation(*url, narrow(*location));
        auto target = next ? parseUrl(*next) : std::nullopt;
        if (!target || target->login || (url->secure && !target->secure)) {
            exchange.refused = true;
            return false;
        }
        url = std::move(target);
        // As browsers and libcurl do: 303 asks for a GET; 301 and 302 turn a POST into one.
        if ((status == 303 && verb != "HEAD") ||
            ((status == 301 || status == 302) && verb == "POST")) {
            verb = "GET";
            withBody = false;
        }
    }
}

} // namespace

std::optional<HttpResponse> httpRequest(const std::string& url, const std::string& verb,
                                        const std::optional<std::string>& headers,
                                        const std::optional<std::string>& body) {
    Exchange exchange;
    exchange.kind = Exchange::Kind::Text;
    exchange.limits = httpLimits();
    if (exchange.limits.textTimeoutSeconds > 0) {
        exchange.textDeadline =
            Clock::now() + std::chrono::seconds(exchange.limits.textTimeoutSeconds);
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
    const bool whole = perform(exchange, url);
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
        exchange.pace.watch(Clock::now(),
                            std::chrono::seconds(exchange.limits.averageWindowSeconds),
                            exchange.limits.minimumAverageBytesPerSecond *
                                static_cast<std::uint64_t>(exchange.limits.averageWindowSeconds));
    }
    const bool whole = perform(exchange, url);
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
