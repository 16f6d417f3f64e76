#include "support/test_ca.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace orvanta::test {
namespace {

const char* const opensslConfig = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = Orvanta Test
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[loopback]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[other]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.invalid
)";

void run(const std::string& command) {
    const std::string quiet = command + " >/dev/null 2>&1";
    if (std::system(quiet.c_str()) != 0) {
        throw std::runtime_error("openssl failed: " + command);
    }
}

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

const std::string p256 = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1";

// A key (P-256 unless told) and a certificate signing request for it.
void request(const std::string& config, const std::string& key, const std::string& csr,
             const std::string& name, const std::string& keySpec = p256) {
    run("openssl req -new -config " + quoted(config) + " " + keySpec + " -nodes -keyout " +
        quoted(key) + " -out " + quoted(csr) + " -subj '/CN=" + name + "'");
}

void signWithCa(const std::string& config, const TestCertificates& certs, const std::string& csr,
                const std::string& cert, const std::string& section,
                const std::string& digest = "sha256") {
    run("openssl x509 -req -in " + quoted(csr) + " -CA " + quoted(certs.caCert) + " -CAkey " +
        quoted(certs.caCert + ".key") + " -CAcreateserial -days 2 -" + digest + " -extfile " +
        quoted(config) + " -extensions " + section + " -out " + quoted(cert));
}

} // namespace

TestCertificates makeTestCertificates(const std::string& folder) {
    const std::string config = folder + "/openssl.cnf";
    {
        std::ofstream out(config);
        out << opensslConfig;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + config);
        }
    }
    TestCertificates certs;
    certs.caCert = folder + "/ca.pem";
    run("openssl req -x509 -config " + quoted(config) + " " + p256 + " -nodes -keyout " +
        quoted(certs.caCert + ".key") + " -out " + quoted(certs.caCert) +
        " -days 2 -sha256 -subj '/CN=Orvanta Test CA' -extensions ca");

    certs.serverCert = folder + "/server.pem";
    certs.serverKey = folder + "/server.key";
    request(config, certs.serverKey, folder + "/server.csr", "127.0.0.1");
    signWithCa(config, certs, folder + "/server.csr", certs.serverCert, "loopback");

    certs.otherHostCert = folder + "/other.pem";
    certs.otherHostKey = folder + "/other.key";
    request(config, certs.otherHostKey, folder + "/other.csr", "other.invalid");
    signWithCa(config, certs, folder + "/other.csr", certs.otherHostCert, "other");

    certs.smallKeyCert = folder + "/small-key.pem";
    certs.smallKeyKey = folder + "/small-key.key";
    request(config, certs.smallKeyKey, folder + "/small-key.csr", "127.0.0.1", "-newkey rsa:1024");
    signWithCa(config, certs, folder + "/small-key.csr", certs.smallKeyCert, "loopback");

    certs.sha1Cert = folder + "/sha1.pem";
    certs.sha1Key = folder + "/sha1.key";
    request(config, certs.sha1Key, folder + "/sha1.csr", "127.0.0.1");
    signWithCa(config, certs, folder + "/sha1.csr", certs.sha1Cert, "loopback", "sha1");

    certs.selfSignedCert = folder + "/self.pem";
    certs.selfSignedKey = folder + "/self.key";
    run("openssl req -x509 -config " + quoted(config) + " " + p256 + " -nodes -keyout " +
        quoted(certs.selfSignedKey) + " -out " + quoted(certs.selfSignedCert) +
        " -days 2 -sha256 -subj '/CN=127.0.0.1' -extensions loopback");
    return certs;
}

} // namespace orvanta::test
