#pragma once

#include <string>

namespace orvanta::test {

// Certificates made with the openssl command in a folder the caller owns (a TempDir).
struct TestCertificates {
    std::string caCert;     // the test CA; trust it through a CA bundle
    std::string serverCert; // for 127.0.0.1 and localhost, signed by the CA
    std::string serverKey;
    std::string otherHostCert; // for other.invalid only, signed by the CA
    std::string otherHostKey;
    std::string selfSignedCert; // for 127.0.0.1 and localhost, signed by itself
    std::string selfSignedKey;
    // Too weak for TLS security level 2, both for 127.0.0.1 and signed by the CA:
    std::string smallKeyCert; // a 1024-bit RSA key
    std::string smallKeyKey;
    std::string sha1Cert; // signed with SHA-1
    std::string sha1Key;
};

// Throws std::runtime_error when openssl fails.
TestCertificates makeTestCertificates(const std::string& folder);

} // namespace orvanta::test
