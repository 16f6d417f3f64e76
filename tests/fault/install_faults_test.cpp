// Faults during a game update, driven through the update pipeline's own functions against real
// loopback servers and real files. Whatever goes wrong, the player keeps the game that was
// installed (executable and version record as they were) and no temporary file is left behind.
#include "fault/fault_fixtures.hpp"

#include <chrono>
#include <thread>

namespace orvanta::fault {
namespace {

using namespace std::chrono_literals;

// The server breaks off in the middle of the body in each of the ways a network does.
TEST_F(InstallFaults, BrokenTransfersFailTheDownloadAndKeepTheOldGame) {
    struct Scenario {
        const char* name;
        RawServer::Handler handler;
    };
    const std::string half = newGame_.substr(0, newGame_.size() / 2);
    const long long length = static_cast<long long>(newGame_.size());
    const Scenario scenarios[] = {
        {"body shorter than its Content-Length",
         [&](RawServer&, Socket socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
         }},
        {"connection reset in mid-body",
         [&](RawServer&, Socket socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
             std::this_thread::sleep_for(50ms);
             resetConnection(socket);
         }},
        {"server stalls in mid-body",
         [&](RawServer& server, Socket socket, const std::string&) {
             sendAll(socket, responseHead(length) + half);
             server.hold(15s);
         }},
        {"server stalls before answering",
         [&](RawServer& server, Socket, const std::string&) { server.hold(15s); }},
        {"server resets before answering",
         [&](RawServer&, Socket socket, const std::string&) { resetConnection(socket); }},
        {"error status with a body",
         [&](RawServer&, Socket socket, const std::string&) {
             sendAll(socket, responseHead(9, "503 Service Unavailable") + "try later");
         }},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        RawServer server(scenario.handler);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(install(manifestFor(server.url("/Orvanta.exe"))), downloadFailedMessage);
        expectOldGameKept();
        EXPECT_EQ(server.requestCount(), 1);
        // A stall ends through the shortened one-second averaging window, not the product's 60 s.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 15s);
    }
}

} // namespace
} // namespace orvanta::fault
