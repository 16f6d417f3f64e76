#include "platform/http.hpp"
#include "platform/http_ranges.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "support/test_ca.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <openssl/ssl.h>
#include <optional>

namespace orvanta {
namespace {

using test::fileExists;
using test::LoopbackServer;
using test::readFile;
using test::TempDir;

// Bytes 7 to 11 of the game ("build") through a fetcher of their own; none when refused.
std::optional<std::string> piece(const std::string& url) {
    std::string got;
    const bool whole =
        RangeFetcher().fetchRange(url, 7, 5, [&](const char* data, std::size_t n) {
            got.append(data, n);
            return true;
        }) == RangeResult::fetched;
    return whole ? std::optional(got) : std::nullopt;
}

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
    EXPECT_EQ(piece(server.url("/game")).value_or("refused"), "build");
}

// The server would accept anything OpenSSL still has: TLS 1.0 and security level 0. The system
// configuration the tests run under allows as much (see CMakeLists.txt), so what is refused here
// is refused by the launcher's own policy: TLS 1.2 at least, at OpenSSL security level 2.
TEST_F(HttpsTest, UntrustedMismatchedOrWeakCertificatesAndProtocolsAreRejected) {
    const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> system(SSL_CTX_new(TLS_client_method()),
                                                              &SSL_CTX_free);
    ASSERT_TRUE(system);
    ASSERT_EQ(SSL_CTX_get_security_level(system.get()), 0)
        << "not under the relaxed configuration: OPENSSL_CONF=" RELAXED_OPENSSL_CONF;
    ASSERT_EQ(SSL_CTX_get_min_proto_version(system.get()), TLS1_VERSION);

    struct Case {
        const char* what;
        std::string cert;
        std::string key;
        std::string bundle;
        int newestTls = 0; // the newest TLS version the server speaks; 0: TLS 1.3
    };
    const Case cases[] = {
        {"self-signed", certs().selfSignedCert, certs().selfSignedKey, certs().caCert},
        {"issued for another host", certs().otherHostCert, certs().otherHostKey, certs().caCert},
        // The test CA is in no system store, so without the bundle nothing vouches for it.
        {"CA not trusted", certs().serverCert, certs().serverKey, ""},
        {"TLS 1.1", certs().serverCert, certs().serverKey, certs().caCert, TLS1_1_VERSION},
        {"TLS 1.0", certs().serverCert, certs().serverKey, certs().caCert, TLS1_VERSION},
        {"1024-bit RSA key", certs().smallKeyCert, certs().smallKeyKey, certs().caCert},
        {"signed with SHA-1", certs().sha1Cert, certs().sha1Key, certs().caCert},
    };
    for (const Case& c : cases) {
        httpLimits().caBundle = c.bundle;
        LoopbackServer server([&c](SSL_CTX& context) {
            SSL_CTX_set_security_level(&context, 0);
            return SSL_CTX_set_min_proto_version(&context, TLS1_VERSION) == 1 &&
                   SSL_CTX_set_max_proto_version(&context, c.newestTls) == 1 &&
                   SSL_CTX_use_certificate_chain_file(&context, c.cert.c_str()) == 1 &&
                   SSL_CTX_use_PrivateKey_file(&context, c.key.c_str(), SSL_FILETYPE_PEM) == 1;
        });
        serveGame(server);
        server.start();

        EXPECT_FALSE(fetchText(server.url("/game"))) << c.what;
        EXPECT_FALSE(downloadToFile(server.url("/game"), dir.file("game"), {})) << c.what;
        EXPECT_FALSE(fileExists(dir.file("game"))) << c.what;
        EXPECT_FALSE(piece(server.url("/game"))) << c.what;
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
        EXPECT_FALSE(piece(url)) << url;
    }
}

} // namespace
} // namespace orvanta
