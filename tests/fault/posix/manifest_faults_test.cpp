// A manifest fault that needs an in-process HTTPS server, which the tests have on POSIX only.
#include "fault/fault_fixtures.hpp"
#include "support/loopback_server.hpp"

namespace orvanta::fault {
namespace {

TEST_F(ManifestFaults, RedirectFromHttpsToHttpIsRefused) {
    test::TempDir dir;
    const auto certificate = makeTestCertificate(dir.path());
    httpLimits().caBundle = certificate.certPath;
    RawServer plain(answer("200 OK", validManifest));
    test::LoopbackServer secure(certificate.certPath, certificate.keyPath);
    secure.server().Get("/downgrade", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain.url("/orvanta-downloads/manifest.json"), 302);
    });
    secure.server().Get("/orvanta-downloads/manifest.json",
                        [&](const httplib::Request&, httplib::Response& res) {
                            res.set_content(validManifest, "application/json");
                        });
    secure.start();

    const auto refused = fetchText(secure.url("/downgrade"));
    EXPECT_FALSE(refused && refused->statusCode >= 200 && refused->statusCode <= 299 &&
                 parseManifest(refused->body).has_value())
        << "a manifest was taken from plain http";
    EXPECT_EQ(plain.requestCount(), 0);

    const auto direct = fetchText(secure.url("/orvanta-downloads/manifest.json"));
    ASSERT_TRUE(direct.has_value());
    EXPECT_TRUE(parseManifest(direct->body).has_value());
}

} // namespace
} // namespace orvanta::fault
