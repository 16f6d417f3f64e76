// Faults while fetching the update manifest, through fetchText and parseManifest against real
// loopback servers: none of them may yield a manifest, and oversized answers are cut off early.
#include "fault/fault_fixtures.hpp"

#include <atomic>
#include <chrono>
#include <thread>

namespace orvanta::fault {
namespace {

using namespace std::chrono_literals;

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
        [&](RawServer&, Socket socket, const std::string&) {
            sendAll(socket, responseHead(length) + half);
        },
        [&](RawServer&, Socket socket, const std::string&) {
            sendAll(socket, responseHead(length) + half);
            std::this_thread::sleep_for(50ms);
            resetConnection(socket);
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
    RawServer stalling([](RawServer& server, Socket, const std::string&) { server.hold(15s); });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(fetchText(stalling.url("/orvanta-downloads/manifest.json")).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);

    RawServer resetting(
        [](RawServer&, Socket socket, const std::string&) { resetConnection(socket); });
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
            RawServer server([&](RawServer&, Socket socket, const std::string&) {
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

} // namespace
} // namespace orvanta::fault
