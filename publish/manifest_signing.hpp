#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

namespace orvanta::publish {

// What keygen writes into its folder.
inline constexpr const char* privateKeyFileName = "orvanta-signing-key.pem";
inline constexpr const char* publicKeyFileName = "orvanta-signing-key.pub.pem";
// The most signature lines of earlier manifests a signature file carries on.
inline constexpr std::size_t maxCarriedSignatures = 3;

// Writes a new signing key pair into directory (created when missing): the private key readable
// by its owner only from the moment it exists, and the public key beside it. Existing key files
// are never replaced. The error is empty on success.
struct KeygenOutcome {
    std::string privateKeyPath;
    std::string publicKeyPath;
    std::string error;
};
KeygenOutcome writeSigningKeyPair(const std::string& directory);

// The studio's private key from path and the public key launchers carry for it; the error is
// empty on success.
struct SigningKey {
    std::string privateKeyPem;
    std::string publicKeyPem;
    std::string error;
};
SigningKey readSigningKey(const std::string& path);

// The signature file to serve beside manifestText: its own line first, then the lines of the
// manifest it replaces (previousManifest, served with previousSignatureFile; both may be empty),
// at most maxCarriedSignatures of them. Absent when the key cannot sign.
std::optional<std::string> signatureFileText(const std::string& manifestText, const SigningKey& key,
                                             const std::string& previousManifest,
                                             const std::string& previousSignatureFile);

// Signs manifestText and puts the signature file in place at signaturePath, carrying on the lines
// of the manifest it replaces (read from the file there now). The error is empty on success.
std::string writeSignatureFile(const std::string& signaturePath, const std::string& manifestText,
                               const SigningKey& key, const std::string& keyPath,
                               const std::string& previousManifest);

// The times a signed manifest replacing previousManifest carries: published_at from now (0: the
// clock's), refused when it is earlier than the previous one unless allowClockBehind, which then
// keeps the clock's; expires_at expiresInDays after it (none for 0). The error is empty on
// success.
struct PublicationTimes {
    std::string publishedAt;
    std::string expiresAt;
    std::string error;
};
PublicationTimes publicationTimes(const std::string& previousManifest, std::time_t now,
                                  bool allowClockBehind, unsigned expiresInDays);

// Whether the first line of signatureFile verifies manifestText with publicKeyPem, as a launcher
// carrying that key would check it.
bool signatureFileVerifies(const std::string& signatureFile, const std::string& manifestText,
                           const std::string& publicKeyPem);

} // namespace orvanta::publish
