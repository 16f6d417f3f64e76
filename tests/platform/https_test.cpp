#include "platform/http.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "support/test_ca.hpp"

#include <gtest/gtest.h>
#include <memory>

namespace orvanta {
namespace {

using test::fileExists;
using test::LoopbackServer;
using test::readFile;
using test::TempDir;

void serveGame(LoopbackServer& server) {
    server.server().Get("/game", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secure build", "application/octet-stream");
    });
}

class HttpsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TempDir>();
        certs_ = test::makeTestCertificates(folder_->path());
    }
    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override { httpLimits().caBundle = certs_.caCert; }
    void TearDown() override { httpLimits() = savedLimits_; }

    const test::TestCertificates& certs() const { return certs_; }

    TempDir dir;

  private:
    static inline std::unique_ptr<TempDir> folder_;
    static inline test::TestCertificates certs_;
    HttpLimits savedLimits_ = httpLimits();
};

TEST_F(HttpsTest, ServerCertifiedByTheTrustedCaIsAccepted) {
    LoopbackServer server(certs().serverCert, certs().serverKey);
    serveGame(server);
    server.start();

    const auto response = fetchText(server.url("/game"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode, 200u);
    EXPECT_EQ(response->body, "secure build");
    ASSERT_TRUE(downloadToFile(server.url("/game"), dir.file("game"), {}));
    EXPECT_EQ(readFile(dir.file("game")), "secure build");
}

TEST_F(HttpsTest, UntrustedOrMismatchedCertificatesAreRejected) {
    struct Case {
        const char* what;
        std::string cert;
        std::string key;
        std::string bundle;
    };
    const Case cases[] = {
        {"self-signed", certs().selfSignedCert, certs().selfSignedKey, certs().caCert},
        {"issued for another host", certs().otherHostCert, certs().otherHostKey, certs().caCert},
        // The test CA is in no system store, so without the bundle nothing vouches for it.
        {"CA not trusted", certs().serverCert, certs().serverKey, ""},
    };
    for (const Case& c : cases) {
        httpLimits().caBundle = c.bundle;
        LoopbackServer server(c.cert, c.key);
        serveGame(server);
        server.start();

        EXPECT_FALSE(fetchText(server.url("/game"))) << c.what;
        EXPECT_FALSE(downloadToFile(server.url("/game"), dir.file("game"), {})) << c.what;
        EXPECT_FALSE(fileExists(dir.file("game"))) << c.what;
    }
}

TEST_F(HttpsTest, RedirectsNeverLeaveHttps) {
    LoopbackServer plain;
    serveGame(plain);
    LoopbackServer secure(certs().serverCert, certs().serverKey);
    serveGame(secure);
    secure.server().Get("/to-http", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain.url("/game"));
    });
    secure.server().Get("/to-https", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(secure.url("/game"));
    });
    plain.server().Get("/via-https", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(secure.url("/to-http"));
    });
    plain.server().Get("/up", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(secure.url("/game"));
    });
    plain.start();
    secure.start();

    // Staying on https, or moving up from http to https, is followed.
    const auto onHttps = fetchText(secure.url("/to-https"));
    ASSERT_TRUE(onHttps);
    EXPECT_EQ(onHttps->body, "secure build");
    const auto up = fetchText(plain.url("/up"));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->body, "secure build");

    // Down from https to http is refused, also when the chain started on http.
    for (const std::string& url : {secure.url("/to-http"), plain.url("/via-https")}) {
        EXPECT_FALSE(fetchText(url)) << url;
        EXPECT_FALSE(downloadToFile(url, dir.file("game"), {})) << url;
        EXPECT_FALSE(fileExists(dir.file("game"))) << url;
    }
}

} // namespace
} // namespace orvanta
