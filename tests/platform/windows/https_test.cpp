// HTTPS through WinHTTP against real TLS servers: the openssl s_server processes of
// support/tls_servers, started by the CTest fixture that names their folder in
// ORVANTA_TEST_TLS_SERVERS. Wine's WinHTTP refuses certificates for IP addresses, so the servers
// are reached as localhost.
#include "platform/http.hpp"
#include "platform/http_ranges.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>

namespace orvanta {
namespace {

using test::fileExists;
using test::LoopbackServer;
using test::TempDir;
using test::writeFile;

// Bytes 7 to 11 of url ("build" of the game) through a fetcher of their own; none when refused.
std::optional<std::string> piece(const std::string& url) {
    std::string got;
    const bool whole = RangeFetcher().fetchRange(url, 7, 5, [&](const char* data, std::size_t n) {
        got.append(data, n);
        return true;
    }) == RangeResult::fetched;
    return whole ? std::optional(got) : std::nullopt;
}

class HttpsTest : public testing::Test {
  protected:
    void SetUp() override {
        const char* folder = std::getenv("ORVANTA_TEST_TLS_SERVERS");
        ASSERT_TRUE(folder) << "run through ctest: its fixture starts the TLS servers";
        folder_ = folder;
        std::ifstream ports(folder_ + "/ports");
        std::string kind;
        int port = 0;
        while (ports >> kind >> port) {
            ports_[kind] = port;
        }
        ASSERT_EQ(ports_.size(), 7u) << "no TLS servers listed in " << folder_ << "/ports";
        httpLimits().caBundle = caBundle();
        // The servers answer no Range of their own: this file is the answer to one.
        writeFile(folder_ + "/www/piece", "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes "
                                          "7-11/12\r\nContent-Length: 5\r\n\r\nbuild");
    }
    void TearDown() override { httpLimits() = savedLimits_; }

    std::string caBundle() const { return folder_ + "/ca.pem"; }
    std::string url(const std::string& kind, const std::string& path) const {
        return "https://localhost:" + std::to_string(ports_.at(kind)) + path;
    }
    // Makes the servers answer path with a redirect to location (each file is a whole response).
    void serveRedirect(const std::string& path, const std::string& location) const {
        writeFile(folder_ + "/www" + path,
                  "HTTP/1.0 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
    }

    TempDir dir;

  private:
    std::string folder_;
    std::map<std::string, int> ports_;
    HttpLimits savedLimits_ = httpLimits();
};

TEST_F(HttpsTest, ServerCertifiedByTheTrustedCaIsAccepted) {
    const auto response = fetchText(url("trusted", "/game"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode, 200u);
    EXPECT_EQ(response->body, "secure build");
    ASSERT_TRUE(downloadToFile(url("trusted", "/game"), dir.file("game"), {}));
    EXPECT_EQ(test::readFile(dir.file("game")), "secure build");
    EXPECT_EQ(piece(url("trusted", "/piece")).value_or("refused"), "build");
}

// The servers accept TLS 1.0 at security level 0; what is refused, the launcher refuses.
TEST_F(HttpsTest, UntrustedMismatchedOrWeakCertificatesAndProtocolsAreRejected) {
    struct Case {
        const char* server;
        std::string bundle;
    };
    const Case cases[] = {
        {"self-signed", caBundle()}, {"other-host", caBundle()}, {"trusted", ""},
        {"tls1.1", caBundle()},      {"tls1.0", caBundle()},     {"small-key", caBundle()},
        {"sha1", caBundle()},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.server) + (c.bundle.empty() ? " (no bundle)" : "");
        httpLimits().caBundle = c.bundle;
        EXPECT_FALSE(fetchText(url(c.server, "/game"))) << what;
        EXPECT_FALSE(downloadToFile(url(c.server, "/game"), dir.file("game"), {})) << what;
        EXPECT_FALSE(fileExists(dir.file("game"))) << what;
        EXPECT_FALSE(piece(url(c.server, "/piece"))) << what;
    }
}

TEST_F(HttpsTest, RedirectsNeverLeaveHttps) {
    LoopbackServer plain;
    plain.server().Get("/game", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("plain build", "application/octet-stream");
    });
    plain.server().Get("/up", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(url("trusted", "/game"));
    });
    plain.server().Get("/via-https", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(url("trusted", "/to-http"));
    });
    plain.start();
    serveRedirect("/to-https", url("trusted", "/game"));
    serveRedirect("/to-http", plain.url("/game"));

    for (const std::string& followed : {url("trusted", "/to-https"), plain.url("/up")}) {
        const auto response = fetchText(followed);
        ASSERT_TRUE(response) << followed;
        EXPECT_EQ(response->body, "secure build") << followed;
    }
    for (const std::string& refused : {url("trusted", "/to-http"), plain.url("/via-https")}) {
        EXPECT_FALSE(fetchText(refused)) << refused;
        EXPECT_FALSE(downloadToFile(refused, dir.file("game"), {})) << refused;
        EXPECT_FALSE(fileExists(dir.file("game"))) << refused;
        EXPECT_FALSE(piece(refused)) << refused;
    }
}

} // namespace
} // namespace orvanta
