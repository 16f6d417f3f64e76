#include "platform/signature.hpp"

#include <limits>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace orvanta {

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct SignatureFree {
    void operator()(ECDSA_SIG* signature) const { ECDSA_SIG_free(signature); }
};
struct BignumFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, KeyFree> readP256PublicKey(const std::string& pem) {
    if (pem.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        return nullptr;
    }
    std::unique_ptr<EVP_PKEY, KeyFree> key(
        PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    // Only the curve the studio's keys use: any other key, even one that verifies, is refused.
    char group[32] = {};
    if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_group_name(key.get(), group, sizeof group, nullptr) != 1 ||
        std::string(group) != "prime256v1") {
        return nullptr;
    }
    return key;
}

// OpenSSL verifies DER-encoded signatures; the wire form is r then s.
std::string derSignature(const std::string& raw) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    std::unique_ptr<BIGNUM, BignumFree> r(BN_bin2bn(bytes, 32, nullptr));
    std::unique_ptr<BIGNUM, BignumFree> s(BN_bin2bn(bytes + 32, 32, nullptr));
    std::unique_ptr<ECDSA_SIG, SignatureFree> signature(ECDSA_SIG_new());
    if (!r || !s || !signature || ECDSA_SIG_set0(signature.get(), r.get(), s.get()) != 1) {
        return {};
    }
    // The signature owns both numbers now.
    static_cast<void>(r.release());
    static_cast<void>(s.release());
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(signature.get(), &der);
    if (length <= 0 || der == nullptr) {
        return {};
    }
    std::string result(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return result;
}

} // namespace

bool verifySignature(const std::string& data, const std::string& signature,
                     const std::string& publicKeyPem) {
    if (signature.size() != signatureSize) {
        return false;
    }
    const auto key = readP256PublicKey(publicKeyPem);
    const std::string der = derSignature(signature);
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!key || der.empty() || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(der.data()),
                            der.size(), reinterpret_cast<const unsigned char*>(data.data()),
                            data.size()) == 1;
}

} // namespace orvanta
