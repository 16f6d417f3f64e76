#include "platform/signature.hpp"

#include "platform/windows/win32.hpp"

#include <algorithm>
#include <array>
#include <bcrypt.h>
#include <cstring>
#include <vector>
#include <wincrypt.h>

namespace orvanta {

namespace {

constexpr std::size_t coordinateSize = 32;
constexpr std::size_t digestSize = 32;
// The DER of the named curve 1.2.840.10045.3.1.7 (P-256), the key's algorithm parameters.
constexpr std::array<BYTE, 10> p256Curve{0x06, 0x08, 0x2A, 0x86, 0x48,
                                         0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr const char* pemBegin = "-----BEGIN PUBLIC KEY-----";
constexpr const char* pemEnd = "-----END PUBLIC KEY-----";

struct DecodedInfo {
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    ~DecodedInfo() {
        if (info != nullptr) {
            LocalFree(info);
        }
    }
};

struct Algorithm {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~Algorithm() {
        if (handle != nullptr) {
            BCryptCloseAlgorithmProvider(handle, 0);
        }
    }
};

struct Key {
    BCRYPT_KEY_HANDLE handle = nullptr;
    ~Key() {
        if (handle != nullptr) {
            BCryptDestroyKey(handle);
        }
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~Hash() {
        if (handle != nullptr) {
            BCryptDestroyHash(handle);
        }
    }
};

// The X and Y coordinates of a PEM P-256 public key (SubjectPublicKeyInfo holding an
// uncompressed point); empty for anything else.
std::vector<BYTE> publicPoint(const std::string& pem) {
    const std::size_t begin = pem.find(pemBegin);
    const std::size_t end = pem.find(pemEnd);
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
        return {};
    }
    const std::string body =
        pem.substr(begin + std::strlen(pemBegin), end - begin - std::strlen(pemBegin));
    if (body.size() > 65536) {
        return {};
    }
    DWORD derSize = 0;
    if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                              nullptr, &derSize, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> der(derSize);
    if (!CryptStringToBinaryA(body.data(), static_cast<DWORD>(body.size()), CRYPT_STRING_BASE64,
                              der.data(), &derSize, nullptr, nullptr)) {
        return {};
    }
    DecodedInfo decoded;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), derSize,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded.info, &infoSize)) {
        decoded.info = nullptr;
        return {};
    }
    const CERT_PUBLIC_KEY_INFO& info = *decoded.info;
    const CRYPT_OBJID_BLOB& curve = info.Algorithm.Parameters;
    const CRYPT_BIT_BLOB& point = info.PublicKey;
    if (info.Algorithm.pszObjId == nullptr ||
        std::strcmp(info.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
        curve.cbData != p256Curve.size() ||
        std::memcmp(curve.pbData, p256Curve.data(), p256Curve.size()) != 0 ||
        point.cbData != 1 + 2 * coordinateSize || point.cUnusedBits != 0 || point.pbData[0] != 4) {
        return {};
    }
    return std::vector<BYTE>(point.pbData + 1, point.pbData + point.cbData);
}

bool sha256(const std::string& data, std::array<UCHAR, digestSize>& digest) {
    Algorithm algorithm;
    Hash hash;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) {
        return false;
    }
    // Hashed in pieces a ULONG can count.
    constexpr std::size_t piece = 1u << 30;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::size_t size = std::min(piece, data.size() - at);
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + at));
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.handle, bytes, static_cast<ULONG>(size), 0))) {
            return false;
        }
    }
    return BCRYPT_SUCCESS(BCryptFinishHash(hash.handle, digest.data(), digestSize, 0));
}

} // namespace

bool verifySignature(const std::string& data, const std::string& signature,
                     const std::string& publicKeyPem) {
    if (signature.size() != signatureSize) {
        return false;
    }
    const std::vector<BYTE> point = publicPoint(publicKeyPem);
    if (point.size() != 2 * coordinateSize) {
        return false;
    }
    // CNG's public key blob: the header, then X and Y.
    std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + point.size());
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC,
                                    static_cast<ULONG>(coordinateSize)};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data(), point.size());

    Algorithm algorithm;
    Key key; // destroyed before the provider is closed
    std::array<UCHAR, digestSize> digest{};
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_ECDSA_P256_ALGORITHM,
                                                    nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                            &key.handle, blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)) ||
        !sha256(data, digest)) {
        return false;
    }
    // CNG's ECDSA signatures are the same raw r then s.
    auto* raw = reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data()));
    return BCRYPT_SUCCESS(BCryptVerifySignature(key.handle, nullptr, digest.data(), digestSize, raw,
                                                signatureSize, 0));
}

} // namespace orvanta
