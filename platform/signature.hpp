#pragma once

#include <cstddef>
#include <string>

namespace orvanta {

// A raw ECDSA P-256 signature: r then s, 32 big-endian bytes each.
inline constexpr std::size_t signatureSize = 64;

// Whether signature is an ECDSA P-256 signature over the SHA-256 of data by the key in
// publicKeyPem (a PEM "PUBLIC KEY", SubjectPublicKeyInfo). False on any failure: a key that cannot
// be read or is not a P-256 key, a signature of another size, or one that does not verify.
bool verifySignature(const std::string& data, const std::string& signature,
                     const std::string& publicKeyPem);

} // namespace orvanta
