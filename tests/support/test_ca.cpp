#include "support/test_ca.hpp"

#include <cstdlib>
#include <stdexcept>

namespace orvanta::test {

TestCertificates makeTestCertificates(const std::string& folder) {
    // The certificates come from the same script the Windows tests' HTTPS servers use.
    const std::string command = "'" TLS_SERVERS_SCRIPT "' certs '" + folder + "' >/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("could not make the test certificates: " + command);
    }
    const auto path = [&](const char* name) { return folder + "/" + name; };
    return {path("ca.pem"),        path("server.pem"), path("server.key"), path("other.pem"),
            path("other.key"),     path("self.pem"),   path("self.key"),   path("small-key.pem"),
            path("small-key.key"), path("sha1.pem"),   path("sha1.key")};
}

} // namespace orvanta::test
