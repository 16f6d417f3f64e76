#include "platform/posix/signing_key.hpp"

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
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

bool isP256(EVP_PKEY* key) {
    char group[32] = {};
    return EVP_PKEY_is_a(key, "EC") &&
           EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
           std::string(group) == "prime256v1";
}

Key readPrivateKey(const std::string& pem) {
    if (pem.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) {
        return nullptr;
    }
    // No passphrase callback: an encrypted key is not read rather than prompted for.
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>("")));
    if (!key || !isP256(key.get())) {
        return nullptr;
    }
    return key;
}

std::string memoryText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    if (size <= 0 || data == nullptr) {
        return {};
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string publicPem(EVP_PKEY* key) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PUBKEY(bio.get(), key) != 1) {
        return {};
    }
    return memoryText(bio.get());
}

} // namespace

std::optional<SigningKeyPair> generateSigningKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        return std::nullopt;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                         nullptr) != 1) {
        return std::nullopt;
    }
    SigningKeyPair pair{memoryText(bio.get()), publicPem(key.get())};
    if (pair.privateKeyPem.empty() || pair.publicKeyPem.empty()) {
        return std::nullopt;
    }
    return pair;
}

std::optional<std::string> publicKeyOf(const std::string& privateKeyPem) {
    const Key key = readPrivateKey(privateKeyPem);
    if (!key) {
        return std::nullopt;
    }
    std::string pem = publicPem(key.get());
    if (pem.empty()) {
        return std::nullopt;
    }
    return pem;
}

std::string signData(const std::string& data, const std::string& privateKeyPem) {
    const Key key = readPrivateKey(privateKeyPem);
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t derSize = 0;
    if (EVP_DigestSign(context.get(), nullptr, &derSize, bytes, data.size()) != 1) {
        return {};
    }
    std::string der(derSize, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(der.data()), &derSize, bytes,
                       data.size()) != 1) {
        return {};
    }
    // The DER signature becomes the fixed-size wire form: r then s, each padded to 32 bytes.
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<ECDSA_SIG, SignatureFree> signature(
        d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(derSize)));
    if (!signature) {
        return {};
    }
    std::string raw(signatureSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(raw.data());
    if (BN_bn2binpad(ECDSA_SIG_get0_r(signature.get()), out, 32) != 32 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(signature.get()), out + 32, 32) != 32) {
        return {};
    }
    return raw;
}

} // namespace orvanta
