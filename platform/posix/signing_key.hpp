#pragma once

#include <optional>
#include <string>

namespace orvanta {

// The studio's side of signed manifests (the publishing tool; Linux only).

struct SigningKeyPair {
    std::string privateKeyPem; // PKCS #8 "PRIVATE KEY", unencrypted
    std::string publicKeyPem;  // SubjectPublicKeyInfo "PUBLIC KEY"
};

// A new ECDSA P-256 key pair; absent when the system cannot make one.
std::optional<SigningKeyPair> generateSigningKey();

// The public key of a PEM private key; absent unless it is a P-256 key.
std::optional<std::string> publicKeyOf(const std::string& privateKeyPem);

// The raw 64-byte signature (r then s) over the SHA-256 of data; empty on any failure, including
// a key that is not a P-256 private key.
std::string signData(const std::string& data, const std::string& privateKeyPem);

} // namespace orvanta
