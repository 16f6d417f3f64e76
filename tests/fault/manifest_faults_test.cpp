// Faults while fetching the update manifest, through fetchText and parseManifest against real
// loopback servers: none of them may yield a manifest, and oversized answers are cut off early.
#include "fault/fault_support.hpp"
#include "platform/http.hpp"
#include "support/loopback_server.hpp"
#include "support/temp_dir.hpp"
#include "update/manifest.hpp"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace orvanta {
namespace {

using fault::RawServer;
using fault::responseHead;
using fault::sendAll;
using namespace std::chrono_literals;

const std::string validManifest =
    R"({"game_version":"2.0","game_url":"http://127.0.0.1:9/Orvanta.exe","changelog":"Pumpkins."})";

class ManifestFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        savedLimits_ = httpLimits();
        httpLimits().connectTimeoutSeconds = 5;
        httpLimits().textTimeoutSeconds = 3;
        httpLimits().averageWindowSeconds = 1;
    }
    void TearDown() override { httpLimits() = savedLimits_; }

    HttpLimits savedLimits_;
};

RawServer::Handler answer(const std::string& status, const std::string& body) {
    return [status, body](RawServer&, int socket, const std::string&) {
        sendAll(socket, responseHead(static_cast<long long>(body.size()), status) + body);
    };
}

// What a misconfigured or overloaded server sends instead of the manifest arrives as a response,
// and parsing rejects it.
TEST_F(ManifestFaults, WrongDocumentsAreResponsesButNoManifest) {
    const std::string htmlPage =
        "<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head>\n"
        "<body><center><h1>502 Bad Gateway</h1></center><hr><center>nginx</center></body></html>\n";
    struct Scenario {
        const char* name;
        std::string status;
        std::string body;
        std::uint32_t statusCode;
    };
    const Scenario scenarios[] = {
        {"HTML error page with status 200", "200 OK", htmlPage, 200},
        {"HTML error page with status 502", "502 Bad Gateway", htmlPage, 502},
        {"empty body", "200 OK", "", 200},
        {"manifest cut short", "200 OK", validManifest.substr(0, validManifest.size() / 2), 200},
        {"manifest followed by a NUL byte and a page", "200 OK", validManifest + '\0' + htmlPage,
         200},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        RawServer server(answer(scenario.status, scenario.body));
        const auto response = fetchText(server.url("/orvanta-downloads/manifest.json"));
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(response->statusCode, scenario.statusCode);
        EXPECT_EQ(response->body, scenario.body);
        EXPECT_FALSE(parseManifest(response->body).has_value());
    }
}

// A body that stops short of its Content-Length, or a connection reset after part of it: what
// arrived is handed over and is not a manifest. (A stall in mid-body ends the same way as a reset;
// the download's tests cover it.)
TEST_F(ManifestFaults, BrokenBodiesGiveNoManifest) {
    const std::string half = validManifest.substr(0, validManifest.size() / 2);
    const long long length = static_cast<long long>(validManifest.size());
    const RawServer::Handler handlers[] = {
        [&](RawServer&, int socket, const std::string&) {
            sendAll(socket, responseHead(length) + half);
        },
        [&](RawServer&, int socket, const std::string&) {
            sendAll(socket, responseHead(length) + half);
            std::this_thread::sleep_for(50ms);
            fault::resetConnection(socket);
        },
    };
    const char* names[] = {"short body", "reset in mid-body"};
    for (std::size_t i = 0; i < std::size(handlers); ++i) {
        SCOPED_TRACE(names[i]);
        RawServer server(handlers[i]);
        // The status arrived, so there is a response, holding what came before the break.
        const auto response = fetchText(server.url("/orvanta-downloads/manifest.json"));
        ASSERT_TRUE(response.has_value());
        EXPECT_EQ(response->statusCode, 200u);
        EXPECT_EQ(response->body, half);
        EXPECT_FALSE(parseManifest(response->body).has_value());
    }
}

// No answer at all: the server stalls or resets before its status line.
TEST_F(ManifestFaults, NoAnswerGivesNoResponse) {
    RawServer stalling([](RawServer& server, int, const std::string&) { server.hold(15s); });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(fetchText(stalling.url("/orvanta-downloads/manifest.json")).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    RawServer resetting(
        [](RawServer&, int socket, const std::string&) { fault::resetConnection(socket); });
    EXPECT_FALSE(fetchText(resetting.url("/orvanta-downloads/manifest.json")).has_value());
}

// 50 MiB of valid JSON, announced or not: the text limit cuts the transfer off long before the
// end instead of collecting the whole body.
TEST_F(ManifestFaults, OversizedManifestIsRefused) {
    const std::size_t total = 50u * 1024u * 1024u;
    const std::string prefix =
        R"({"game_version":"2.0","game_url":"http://127.0.0.1:9/Orvanta.exe","changelog":")";
    const std::string suffix = "\"}";
    const std::string chunk(1024 * 1024, 'a');
    for (const bool announced : {true, false}) {
        SCOPED_TRACE(announced ? "with Content-Length" : "without Content-Length");
        std::atomic<std::size_t> sent{0};
        {
            RawServer server([&](RawServer&, int socket, const std::string&) {
                const auto put = [&](const std::string& bytes) {
                    if (!sendAll(socket, bytes)) {
                        return false;
                    }
                    sent += bytes.size();
                    return true;
                };
                if (!sendAll(socket,
                             responseHead(announced ? static_cast<long long>(total) : -1)) ||
                    !put(prefix)) {
                    return;
                }
                while (sent + chunk.size() + suffix.size() <= total) {
                    if (!put(chunk)) {
                        return;
                    }
                }
                put(std::string(total - suffix.size() - sent, 'a') + suffix);
            });
            EXPECT_FALSE(fetchText(server.url("/orvanta-downloads/manifest.json")).has_value());
        }
        EXPECT_LT(sent.load(), total) << "the whole oversized body was transferred";
    }
}

TEST_F(ManifestFaults, RedirectFromHttpsToHttpIsRefused) {
    test::TempDir dir;
    const auto certificate = fault::makeTestCertificate(dir.path());
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
} // namespace orvanta
