#pragma once

// OpenSSL objects owned by std::unique_ptr, freed on every path.
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <string>

namespace orvanta::openssl {

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

using Bio = std::unique_ptr<BIO, BioFree>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Signature = std::unique_ptr<ECDSA_SIG, SignatureFree>;
using Bignum = std::unique_ptr<BIGNUM, BignumFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

// Whether key is an elliptic-curve key on P-256, the only curve the studio's keys use.
inline bool isP256(EVP_PKEY* key) {
    char group[32] = {};
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
           std::string(group) == "prime256v1";
}

} // namespace orvanta::openssl
