#include "platform/signature.hpp"

#include "platform/posix/openssl_handles.hpp"

#include <limits>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace orvanta {

namespace {

openssl::Key readP256PublicKey(const std::string& pem) {
    if (pem.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return nullptr;
    }
    openssl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        return nullptr;
    }
    openssl::Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    // Only the curve the studio's keys use: any other key, even one that verifies, is refused.
    if (!key || !openssl::isP256(key.get())) {
        return nullptr;
    }
    return key;
}

// OpenSSL verifies DER-encoded signatures; the wire form is r then s.
std::string derSignature(const std::string& raw) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(raw.data());
    openssl::Bignum r(BN_bin2bn(bytes, 32, nullptr));
    openssl::Bignum s(BN_bin2bn(bytes + 32, 32, nullptr));
    openssl::Signature signature(ECDSA_SIG_new());
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
    openssl::DigestContext context(EVP_MD_CTX_new());
    if (!key || der.empty() || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(der.data()),
                            der.size(), reinterpret_cast<const unsigned char*>(data.data()),
                            data.size()) == 1;
}

} // namespace orvanta
