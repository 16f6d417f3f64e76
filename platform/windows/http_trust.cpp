// Certificate trust for the Windows transfers: the configured bundle, the launcher's floor on keys
// and signatures, and the chain of the server an https request reached.
#include "platform/windows/http_trust.hpp"

#include "platform/small_file.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace orvanta {
namespace {

constexpr DWORD certificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

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

constexpr std::size_t maxBundleBytes = 16 * 1024 * 1024;

// A memory store holding every certificate of a PEM bundle; none when it holds no certificate or
// one that does not decode.
CertStore loadBundle(std::string_view text) {
    CertStore store(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store) {
        return nullptr;
    }
    static constexpr std::string_view begin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view end = "-----END CERTIFICATE-----";
    std::size_t count = 0;
    for (std::size_t at = text.find(begin); at != std::string_view::npos;
         at = text.find(begin, at)) {
        const auto stop = text.find(end, at + begin.size());
        if (stop == std::string_view::npos) {
            return nullptr;
        }
        const std::size_t length = stop + end.size() - at;
        DWORD size = 0;
        if (!CryptStringToBinaryA(text.data() + at, static_cast<DWORD>(length),
                                  CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr) ||
            size == 0) {
            return nullptr;
        }
        std::vector<BYTE> der(size);
        if (!CryptStringToBinaryA(text.data() + at, static_cast<DWORD>(length),
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

} // namespace

// The roots trusted instead of the system store: the limits' file, else the bundle compiled in.
// A file that cannot be read leaves the bundle configured but unusable.
Trust loadTrust(const HttpLimits& limits) {
    Trust trust;
    if (!limits.caBundle.empty()) {
        trust.bundleConfigured = true;
        if (const auto text = readSmallFile(limits.caBundle, maxBundleBytes)) {
            trust.bundle = loadBundle(*text);
        }
    } else if (!builtInCaBundle.empty()) {
        trust.bundleConfigured = true;
        trust.bundle = loadBundle(builtInCaBundle);
    }
    return trust;
}

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

} // namespace orvanta
