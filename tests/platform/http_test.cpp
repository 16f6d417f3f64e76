#include "platform/http.hpp"
#include "platform/http_ranges.hpp"
#include "platform/transfer_pace.hpp"
#include "support/loopback_server.hpp"
#include "support/raw_socket.hpp"
#include "support/temp_dir.hpp"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace orvanta {
namespace {

using namespace std::chrono_literals;
using test::fileExists;
using test::LoopbackServer;
using test::readFile;
using test::TempDir;
using test::writeFile;
using Calls = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
using test::raw_socket::Socket;
namespace raw_socket = test::raw_socket;

// A bare TCP server on 127.0.0.1 for answers a real HTTP server will not give: a body shorter than
// its Content-Length, a reset connection, silence. Each connection's request head is read, then
// the script writes whatever it wants and returns; the connection is then closed.
class RawServer {
  public:
    using Script = std::function<void(Socket fd, RawServer& server)>;

    explicit RawServer(Script script) : script_(std::move(script)) {
        listener_ = raw_socket::bindLoopback();
        if (listener_ == raw_socket::none || !raw_socket::listen(listener_, 8)) {
            if (listener_ != raw_socket::none) {
                raw_socket::close(listener_);
            }
            throw std::runtime_error("no loopback port for the raw server");
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~RawServer() {
        stopping_ = true;
        thread_.join();
        raw_socket::close(listener_);
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(raw_socket::portOf(listener_)) + path;
    }
    // Sleeps for the given time, cut short when the server stops.
    void pause(std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (!stopping_ && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
        }
    }
    // Keeps the connection silent until the client gives up on it (or the time passes).
    void holdOpen(Socket fd, std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        char byte = 0;
        while (!stopping_ && std::chrono::steady_clock::now() < end) {
            if (raw_socket::waitReadable(fd, 10) && raw_socket::receive(fd, &byte, 1) <= 0) {
                return;
            }
        }
    }
    // False once the client has gone.
    static bool send(Socket fd, const std::string& bytes) { return raw_socket::send(fd, bytes); }
    // Ends the connection with a reset instead of an orderly close.
    static void reset(Socket fd) { raw_socket::resetOnClose(fd); }

  private:
    void serve() {
        while (!stopping_) {
            if (!raw_socket::waitReadable(listener_, 20)) {
                continue;
            }
            const Socket fd = raw_socket::accept(listener_);
            if (fd == raw_socket::none) {
                continue;
            }
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos && !stopping_) {
                if (!raw_socket::waitReadable(fd, 20)) {
                    continue;
                }
                const long got = raw_socket::receive(fd, buffer, sizeof buffer);
                if (got <= 0) {
                    break;
                }
                head.append(buffer, static_cast<std::size_t>(got));
            }
            script_(fd, *this);
            raw_socket::close(fd);
        }
    }

    Script script_;
    Socket listener_ = raw_socket::none;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

class HttpTest : public testing::Test {
  protected:
    void TearDown() override { httpLimits() = savedLimits_; }

    // Records every progress call of a download.
    ProgressCallback recorder() {
        return [this](std::uint64_t received, std::uint64_t total) {
            calls.emplace_back(received, total);
        };
    }

    Calls calls;
    TempDir dir;

  private:
    HttpLimits savedLimits_ = httpLimits();
};

TEST(SplitUrl, GivesHostPathSchemeAndPort) {
    struct Case {
        const char* url;
        const char* host;
        const char* path;
        bool secure;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"https://downloads.example/orvanta/manifest.json", "downloads.example",
         "/orvanta/manifest.json", true, 443},
        {"http://downloads.example", "downloads.example", "/", false, 80},
        {"HTTPS://Downloads.Example:8443/a?v=2", "Downloads.Example", "/a?v=2", true, 8443},
        {"http://127.0.0.1:8080/", "127.0.0.1", "/", false, 8080},
        {"http://[::1]:81/x", "[::1]", "/x", false, 81},
        {"https://user:pw@downloads.example:8443/a", "downloads.example", "/a", true, 8443},
        {"http://:pw@downloads.example/", "downloads.example", "/", false, 80},
        {"http://h.example/a/./b/../c/%7e%2f?q=../x#frag", "h.example", "/a/c/%7e%2f?q=../x", false,
         80},
        {"http://h.example:/caf\xC3\xA9", "h.example", "/caf%C3%A9", false, 80},
        {"http://ex%61mple.org/", "example.org", "/", false, 80},
        {"https://[2001:DB8::1]/", "[2001:DB8::1]", "/", true, 443},
    };
    for (const Case& c : cases) {
        std::string host;
        std::string path;
        bool secure = !c.secure;
        std::uint16_t port = 0;
        ASSERT_TRUE(splitUrl(c.url, host, path, secure, port)) << c.url;
        EXPECT_EQ(host, c.host) << c.url;
        EXPECT_EQ(path, c.path) << c.url;
        EXPECT_EQ(secure, c.secure) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
    }
}

TEST(SplitUrl, RejectsWhatIsNotAnAbsoluteHttpUrl) {
    const std::string rejected[] = {"",
                                    "downloads.example/manifest.json",
                                    "/manifest.json",
                                    "ftp://downloads.example/game",
                                    "file:///etc/passwd",
                                    "http://",
                                    "https:///path",
                                    "http://host:0/",
                                    "http://host:70000/",
                                    "http://host/with space",
                                    "http:/x/a://b",
                                    "http://%7fE1f/r",
                                    "http://ex%0aample/",
                                    "http://ex%2fample/",
                                    "http://[v1.x]/",
                                    "http://[fe80::1%25eth0]/",
                                    "http://[::1/",
                                    std::string("http://host/a\0b", 15)};
    for (const std::string& url : rejected) {
        std::string host = "unchanged";
        std::string path = "unchanged";
        bool secure = true;
        std::uint16_t port = 7;
        EXPECT_FALSE(splitUrl(url, host, path, secure, port)) << url;
        EXPECT_EQ(host, "unchanged");
        EXPECT_EQ(path, "unchanged");
        EXPECT_TRUE(secure);
        EXPECT_EQ(port, 7);
        EXPECT_FALSE(splitUrl(url, host, path, secure)) << url;
    }
    EXPECT_FALSE(fetchText(""));
    EXPECT_FALSE(fetchText("ftp://127.0.0.1/file"));
    TempDir dir;
    EXPECT_FALSE(downloadToFile("", dir.file("out"), {}));
    EXPECT_FALSE(downloadToFile("file:///etc/hostname", dir.file("out"), {}));
    EXPECT_FALSE(fileExists(dir.file("out")));
}

// A redirect's Location, resolved against the address that answered, and the IP addresses the
// certificate check compares.
TEST(SplitUrl, ResolvesLocationsAndReadsIpAddresses) {
    const auto base = parseUrl("https://cdn.example:8443/builds/v2/game?x=1");
    ASSERT_TRUE(base);
    const std::pair<const char*, const char*> cases[] = {
        {"other.bin", "https://cdn.example:8443/builds/v2/other.bin"},
        {"../v3/game", "https://cdn.example:8443/builds/v3/game"},
        {"/top", "https://cdn.example:8443/top"},
        {"?y=2", "https://cdn.example:8443/builds/v2/game?y=2"},
        {"//mirror.example/g", "https://mirror.example/g"},
        {"  http://plain.example/a b  ", "http://plain.example/a%20b"},
    };
    for (const auto& [location, expected] : cases) {
        EXPECT_EQ(resolveLocation(*base, location).value_or("none"), expected) << location;
    }
    EXPECT_FALSE(resolveLocation(*base, "/a\r\nSet-Cookie: x"));

    using Bytes = std::vector<unsigned char>;
    EXPECT_EQ(parseUrl("http://127.0.0.1:8/")->address, (Bytes{127, 0, 0, 1}));
    Bytes loopback6(16, 0);
    loopback6[15] = 1;
    EXPECT_EQ(parseUrl("http://[::1]/")->address, loopback6);
    EXPECT_TRUE(parseUrl("http://127.1/")->address.empty());
    EXPECT_TRUE(parseUrl("http://h.example/")->address.empty());
}

// Every loopback server listens on a port picked by the system, so each test here also shows
// that the port written in the URL is the one used.
TEST_F(HttpTest, FetchTextGivesStatusAndBodyWhateverTheStatus) {
    LoopbackServer server;
    std::string agent;
    std::string method;
    server.server().Get("/status/(\\d+)", [&](const httplib::Request& req, httplib::Response& res) {
        agent = req.get_header_value("User-Agent");
        method = req.method;
        res.status = std::stoi(req.matches[1]);
        res.set_content("body of " + std::string(req.matches[1]), "text/plain");
    });
    server.start();

    for (int status : {200, 404, 500}) {
        const auto response = fetchText(server.url("/status/" + std::to_string(status)));
        ASSERT_TRUE(response) << status;
        EXPECT_EQ(response->statusCode, static_cast<std::uint32_t>(status));
        EXPECT_EQ(response->body, "body of " + std::to_string(status));
    }
    EXPECT_EQ(agent, "Orvanta/1.0");
    EXPECT_EQ(method, "GET");
}

// A user name or password in the URL goes neither into the request nor into an Authorization
// header; a redirect to an address that names one is not followed.
TEST_F(HttpTest, RequestTargetIsTheUrlPathOrSlashAndCarriesNoLogin) {
    LoopbackServer server;
    std::vector<std::string> targets;
    std::string address; // 127.0.0.1:port, once the server has one
    server.server().Get("/to/(.*)", [&](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("http://" + std::string(req.matches[1]) + "@" + address + "/login");
    });
    server.server().Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        targets.push_back(req.target + (req.has_header("Authorization") ? " with a login" : ""));
        res.set_content("ok", "text/plain");
    });
    server.start();
    address = "127.0.0.1:" + std::to_string(server.port());
    const std::string root = "http://" + address;

    ASSERT_TRUE(fetchText(root));
    ASSERT_TRUE(downloadToFile(root, dir.file("root"), {}));
    ASSERT_TRUE(fetchText(root + "/orvanta-downloads/manifest.json?v=2"));
    ASSERT_TRUE(fetchText("http://user:pw@" + address + "/a"));
    ASSERT_TRUE(downloadToFile("http://:pw@" + address + "/b", dir.file("b"), {}));
    for (const std::string login : {"user:pw", ":pw", "user"}) {
        EXPECT_FALSE(fetchText(root + "/to/" + login)) << login;
        EXPECT_FALSE(downloadToFile(root + "/to/" + login, dir.file("login"), {})) << login;
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"/", "/", "/orvanta-downloads/manifest.json?v=2",
                                                 "/a", "/b"}));
}

TEST_F(HttpTest, HttpRequestSendsVerbHeadersAndBody) {
    LoopbackServer server;
    server.server().Put("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.status = 201;
        res.set_content(req.method + "|" + req.get_header_value("X-First") + "|" +
                            req.get_header_value("X-Second") + "|" + req.body,
                        "text/plain");
    });
    server.start();

    const auto response = httpRequest(server.url("/echo"), "PUT",
                                      "X-First: one\r\nX-Second: two\r\n", std::string("payload"));
    ASSERT_TRUE(response);
    EXPECT_EQ(response->statusCode, 201u);
    EXPECT_EQ(response->body, "PUT|one|two|payload");
}

TEST_F(HttpTest, UnsuccessfulStatusLeavesTheDestinationAlone) {
    LoopbackServer server;
    server.server().Get("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_content("error page", "text/plain");
    });
    server.start();

    for (int status : {404, 500, 304}) {
        const std::string url = server.url("/status/" + std::to_string(status));
        EXPECT_FALSE(downloadToFile(url, dir.file("absent"), recorder())) << status;
        EXPECT_FALSE(fileExists(dir.file("absent"))) << status;

        writeFile(dir.file("kept"), "previous build");
        EXPECT_FALSE(downloadToFile(url, dir.file("kept"), recorder())) << status;
        EXPECT_EQ(readFile(dir.file("kept")), "previous build") << status;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(HttpTest, ProgressFollowsEveryChunkWithOrWithoutContentLength) {
    LoopbackServer server;
    auto twoChunks = [](httplib::DataSink& sink) {
        const std::string first(100, 'a');
        const std::string second(50, 'b');
        sink.write(first.data(), first.size());
        std::this_thread::sleep_for(150ms); // so the chunks arrive apart
        sink.write(second.data(), second.size());
    };
    server.server().Get("/sized", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(150, "application/octet-stream",
                                 [&](std::size_t, std::size_t, httplib::DataSink& sink) {
                                     twoChunks(sink);
                                     return true;
                                 });
    });
    server.server().Get("/unsized", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream",
                                         [&](std::size_t, httplib::DataSink& sink) {
                                             twoChunks(sink);
                                             sink.done();
                                             return true;
                                         });
    });
    server.start();
    const std::string expected = std::string(100, 'a') + std::string(50, 'b');

    ASSERT_TRUE(downloadToFile(server.url("/sized"), dir.file("sized"), recorder()));
    EXPECT_EQ(calls, (Calls{{100, 150}, {150, 150}}));
    EXPECT_EQ(readFile(dir.file("sized")), expected);

    calls.clear();
    ASSERT_TRUE(downloadToFile(server.url("/unsized"), dir.file("unsized"), recorder()));
    EXPECT_EQ(calls, (Calls{{100, 0}, {150, 0}}));
    EXPECT_EQ(readFile(dir.file("unsized")), expected);

    // Without a callback the same download simply runs to its end.
    ASSERT_TRUE(downloadToFile(server.url("/sized"), dir.file("quiet"), {}));
    EXPECT_EQ(readFile(dir.file("quiet")), expected);
}

TEST_F(HttpTest, LargeDownloadArrivesWhole) {
    std::string payload(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>((i * 7919u) >> 3);
    }
    LoopbackServer server;
    server.server().Get("/game", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(payload, "application/octet-stream");
    });
    server.start();

    writeFile(dir.file("game"), std::string(5 * 1024 * 1024, 'x')); // longer: must be truncated
    ASSERT_TRUE(downloadToFile(server.url("/game"), dir.file("game"), recorder()));
    EXPECT_TRUE(readFile(dir.file("game")) == payload);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(std::uint64_t{payload.size()}, payload.size()));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_LT(calls[i - 1].first, calls[i].first);
    }
}

TEST_F(HttpTest, EmptyBodyCreatesOrTruncatesTheDestination) {
    LoopbackServer server;
    server.server().Get("/empty", [](const httplib::Request&, httplib::Response& res) {
        res.status = 200;
        res.set_header("Content-Length", "0");
    });
    server.start();

    ASSERT_TRUE(downloadToFile(server.url("/empty"), dir.file("new"), recorder()));
    EXPECT_TRUE(fileExists(dir.file("new")));
    EXPECT_EQ(readFile(dir.file("new")), "");

    writeFile(dir.file("old"), "previous build");
    ASSERT_TRUE(downloadToFile(server.url("/empty"), dir.file("old"), recorder()));
    EXPECT_EQ(readFile(dir.file("old")), "");
    EXPECT_TRUE(calls.empty());
}

TEST_F(HttpTest, DestinationThatCannotBeWrittenFails) {
    LoopbackServer server;
    server.server().Get("/game", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(64 * 1024, 'g'), "application/octet-stream");
    });
    server.start();

    EXPECT_FALSE(downloadToFile(server.url("/game"), dir.file("missing/game"), recorder()));
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(fileExists(dir.path() + "/missing"));

    // Opens fine, but every write fails (no space left on the device).
    if (fileExists("/dev/full")) {
        EXPECT_FALSE(downloadToFile(server.url("/game"), "/dev/full", {}));
    }
}

TEST_F(HttpTest, BodyCutShortFailsTheDownloadAndEndsTheText) {
    // Announces 100 bytes, sends 40, closes.
    RawServer shortBody([](Socket fd, RawServer&) {
        RawServer::send(fd,
                        "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(40, 's'));
    });
    // No length; 40 bytes, then a reset instead of the end of the body.
    RawServer resetBody([](Socket fd, RawServer& server) {
        RawServer::send(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + std::string(40, 'r'));
        server.pause(300ms);
        RawServer::reset(fd);
    });

    for (RawServer* server : {&shortBody, &resetBody}) {
        writeFile(dir.file("game"), "previous build");
        calls.clear();
        EXPECT_FALSE(downloadToFile(server->url("/game"), dir.file("game"), recorder()));
        EXPECT_EQ(readFile(dir.file("game")).size(), 40u);
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().first, 40u);

        const auto response = fetchText(server->url("/manifest.json"));
        ASSERT_TRUE(response);
        EXPECT_EQ(response->statusCode, 200u);
        EXPECT_EQ(response->body.size(), 40u);
    }
}

// The head announces `chunks` chunks of `bytes` bytes (chunks 0: more than ever come); one chunk
// goes every `every`, until the last, until the client goes, or for 20 s at most.
RawServer::Script paced(std::size_t bytes, std::chrono::milliseconds every,
                        std::size_t chunks = 0) {
    return [=](Socket fd, RawServer& server) {
        const std::size_t length = chunks == 0 ? 1000000 : chunks * bytes;
        bool open = RawServer::send(
            fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n");
        const auto end = std::chrono::steady_clock::now() + 20s;
        for (std::size_t i = 0;
             open && (chunks == 0 || i < chunks) && std::chrono::steady_clock::now() < end; ++i) {
            if (i > 0) {
                server.holdOpen(fd, every);
            }
            open = RawServer::send(fd, std::string(bytes, 'p'));
        }
    };
}

// A text request ends at its time limit; a download once a window brings too few bytes, however
// they come: none, a trickle, or bursts now and then.
TEST_F(HttpTest, StalledOrTricklingServerIsCutOff) {
    httpLimits().textTimeoutSeconds = 1;
    httpLimits().averageWindowSeconds = 2; // 2 KiB in every 2 s
    struct Case {
        const char* what;
        RawServer::Script script;
        bool answers; // a status line and headers come; else nothing at all
    };
    const Case cases[] = {
        {"silent", [](Socket fd, RawServer& server) { server.holdOpen(fd, 20s); }, false},
        {"2 bytes a second", paced(2, 1000ms), true},
        {"800 bytes every 2 s", paced(800, 2000ms), true},
    };
    for (const Case& c : cases) {
        RawServer server(c.script);
        const auto start = std::chrono::steady_clock::now();
        // A response whose body was cut short is still one, as in BodyCutShortFails... above.
        EXPECT_EQ(fetchText(server.url("/manifest.json")).has_value(), c.answers) << c.what;
        EXPECT_FALSE(downloadToFile(server.url("/game"), dir.file(c.what), {})) << c.what;
        EXPECT_EQ(fileExists(dir.file(c.what)), c.answers) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << c.what;
    }

    // Slow, but four times the pace: 2000 bytes every half second for 3 s.
    RawServer steady(paced(2000, 500ms, 7));
    ASSERT_TRUE(downloadToFile(steady.url("/game"), dir.file("steady"), {}));
    EXPECT_EQ(readFile(dir.file("steady")), std::string(14000, 'p'));
}

// Between a fetcher's requests the caller works (copies from disk, say): that time is no stall of
// the server, while a stall within the requests still fails at the same point.
TEST(TransferPace, TimePausedDoesNotCount) {
    using Clock = TransferPace::Clock;
    const Clock::time_point start{};
    TransferPace pace;
    pace.watch(start, 60s, 60 * 1024);
    pace.arrived(1000, start + 1s);
    pace.pause(start + 2s);
    pace.resume(start + 500s);
    EXPECT_FALSE(pace.fellBehind(start + 557s));
    EXPECT_TRUE(pace.fellBehind(start + 558s));
}

TEST_F(HttpTest, UnansweredConnectTimesOut) {
    // A listener whose queue is full drops further connection attempts unanswered.
    const Socket listener = raw_socket::bindLoopback();
    ASSERT_NE(listener, raw_socket::none);
    ASSERT_TRUE(raw_socket::listen(listener, 0));
    std::vector<Socket> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(raw_socket::startConnect(raw_socket::portOf(listener)));
    }
    std::this_thread::sleep_for(100ms);

    httpLimits().connectTimeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    const std::string url =
        "http://127.0.0.1:" + std::to_string(raw_socket::portOf(listener)) + "/";
    EXPECT_FALSE(fetchText(url));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);

    for (const Socket fd : fillers) {
        raw_socket::close(fd);
    }
    raw_socket::close(listener);
}

TEST_F(HttpTest, RefusedConnectionFails) {
    const Socket fd = raw_socket::bindLoopback();
    ASSERT_NE(fd, raw_socket::none);
    const std::string url = "http://127.0.0.1:" + std::to_string(raw_socket::portOf(fd)) + "/";
    raw_socket::close(fd); // nothing listens there now

    EXPECT_FALSE(fetchText(url));
    EXPECT_FALSE(downloadToFile(url, dir.file("game"), {}));
    EXPECT_FALSE(fileExists(dir.file("game")));
}

TEST_F(HttpTest, RedirectsAreFollowedUpToTen) {
    LoopbackServer server;
    server.server().Get("/hop/(\\d+)", [&](const httplib::Request& req, httplib::Response& res) {
        const int left = std::stoi(req.matches[1]);
        if (left == 0) {
            res.set_content("arrived", "text/plain");
            return;
        }
        // Alternate absolute and relative locations; each redirect carries a body of its own.
        const std::string next = "/hop/" + std::to_string(left - 1);
        res.set_redirect(left % 2 == 0 ? server.url(next) : next);
        res.set_content("redirect body", "text/plain");
    });
    server.server().Get("/gone", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/hop/missing", 301);
    });
    server.start();

    const auto text = fetchText(server.url("/hop/10"));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->statusCode, 200u);
    EXPECT_EQ(text->body, "arrived");
    ASSERT_TRUE(downloadToFile(server.url("/hop/10"), dir.file("game"), recorder()));
    EXPECT_EQ(readFile(dir.file("game")), "arrived");
    EXPECT_EQ(calls, (Calls{{7, 7}}));

    EXPECT_FALSE(fetchText(server.url("/hop/11")));
    EXPECT_FALSE(downloadToFile(server.url("/hop/11"), dir.file("far"), {}));
    EXPECT_FALSE(fileExists(dir.file("far")));

    // The status that ends the chain is the one reported.
    const auto gone = fetchText(server.url("/gone"));
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->statusCode, 404u);
}

TEST_F(HttpTest, RedirectToAnotherProtocolIsRefused) {
    writeFile(dir.file("secret"), "local file");
    LoopbackServer server;
    server.server().Get("/to-file", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("file://" + dir.file("secret"));
    });
    server.start();

    EXPECT_FALSE(fetchText(server.url("/to-file")));
    EXPECT_FALSE(downloadToFile(server.url("/to-file"), dir.file("copy"), {}));
    EXPECT_FALSE(fileExists(dir.file("copy")));
}

TEST_F(HttpTest, TextOverTheLimitGivesNoResponse) {
    LoopbackServer server;
    server.server().Get("/sized/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(std::string(std::stoul(req.matches[1]), 'm'), "application/json");
    });
    server.server().Get("/streamed/(\\d+)",
                        [](const httplib::Request& req, httplib::Response& res) {
                            const std::size_t size = std::stoul(req.matches[1]);
                            res.set_chunked_content_provider(
                                "application/json", [size](std::size_t, httplib::DataSink& sink) {
                                    const std::string body(size, 'm');
                                    sink.write(body.data(), body.size());
                                    sink.done();
                                    return true;
                                });
                        });
    server.server().Get("/endless", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/json",
                                         [](std::size_t, httplib::DataSink& sink) {
                                             const std::string block(64 * 1024, 'm');
                                             return sink.write(block.data(), block.size());
                                         });
    });
    server.start();

    httpLimits().maxTextBytes = 1000;
    for (const char* kind : {"sized", "streamed"}) {
        const std::string base = server.url("/") + kind;
        const auto atLimit = fetchText(base + "/1000");
        ASSERT_TRUE(atLimit) << kind;
        EXPECT_EQ(atLimit->body.size(), 1000u);
        EXPECT_FALSE(fetchText(base + "/1001")) << kind;
    }

    httpLimits().maxTextBytes = HttpLimits().maxTextBytes;
    EXPECT_FALSE(fetchText(server.url("/endless")));
}

// Pieces of one file over one fetcher: each the bytes asked for, all over one connection, a
// redirect followed; a range past the end of the file is refused.
TEST_F(HttpTest, RangeFetcherGetsEachRangeOverOneConnection) {
    std::string payload(200 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>((i * 7919u) >> 3);
    }
    LoopbackServer server;
    std::set<int> clientPorts;
    std::vector<std::string> ranges;
    server.server().Get("/pack", [&](const httplib::Request& req, httplib::Response& res) {
        clientPorts.insert(req.remote_port);
        ranges.push_back(req.get_header_value("Range"));
        res.set_content(payload, "application/octet-stream");
    });
    server.server().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/pack");
    });
    server.start();

    RangeFetcher fetcher;
    const std::pair<std::uint64_t, std::uint64_t> asked[] = {
        {0, 1}, {70000, 130000}, {payload.size() - 9, 9}};
    for (const auto& [first, length] : asked) {
        std::string got;
        ASSERT_EQ(fetcher.fetchRange(server.url("/pack"), first, length,
                                     [&](const char* data, std::size_t size) {
                                         got.append(data, size);
                                         return true;
                                     }),
                  RangeResult::fetched)
            << first;
        EXPECT_TRUE(got == payload.substr(first, length)) << first;
    }
    EXPECT_EQ(ranges,
              (std::vector<std::string>{"bytes=0-0", "bytes=70000-199999", "bytes=204794-204802"}));
    EXPECT_EQ(clientPorts.size(), 1u);

    std::string moved;
    EXPECT_EQ(fetcher.fetchRange(server.url("/moved"), 5, 3,
                                 [&](const char* d, std::size_t n) {
                                     moved.append(d, n);
                                     return true;
                                 }),
              RangeResult::fetched);
    EXPECT_EQ(moved, payload.substr(5, 3));
    const auto none = [](const char*, std::size_t) { return true; };
    EXPECT_EQ(fetcher.fetchRange(server.url("/pack"), payload.size(), 1, none),
              RangeResult::refused);
    EXPECT_EQ(fetcher.fetchRange(server.url("/pack"), 0, 0, none), RangeResult::failed);
}

// Bytes 10 to 19 asked for; an answer that is another thing is refused, one that ends early
// failed, and the caller never gets more than ten bytes, nor any byte of a body that is not that
// range.
TEST_F(HttpTest, RangeFetcherRefusesAnythingButTheRangeAsked) {
    struct Case {
        const char* what;
        std::string answer;
        bool bodyTaken; // the answer is the range asked for, up to where it goes wrong
        RangeResult result;
    };
    const std::string ten(10, 'r');
    const Case cases[] = {
        {"200 whole file", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'w'),
         false, RangeResult::refused},
        {"another range",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-9/100\r\nContent-Length: "
         "10\r\n\r\n" +
             ten,
         false, RangeResult::refused},
        {"200 of exactly the range's length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n" + ten,
         false, RangeResult::refused},
        {"another start, the same end",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 11-19/100\r\nContent-Length: "
         "9\r\n\r\n" +
             std::string(9, 'r'),
         false, RangeResult::refused},
        {"the same start, another end",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-18/100\r\nContent-Length: "
         "9\r\n\r\n" +
             std::string(9, 'r'),
         false, RangeResult::refused},
        {"no Content-Range", "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\n\r\n" + ten,
         false, RangeResult::refused},
        {"range past the file's end",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/15\r\nContent-Length: "
         "10\r\n\r\n" +
             ten,
         false, RangeResult::refused},
        {"short body",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: "
         "4\r\n\r\nrrrr",
         true, RangeResult::failed},
        {"cut short",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: "
         "10\r\n\r\nrrrr",
         true, RangeResult::failed},
        {"more than asked",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: "
         "30\r\n\r\n" +
             std::string(30, 'r'),
         true, RangeResult::refused},
    };
    for (const Case& c : cases) {
        RawServer server([&](Socket fd, RawServer&) { RawServer::send(fd, c.answer); });
        RangeFetcher fetcher;
        std::string got;
        EXPECT_EQ(fetcher.fetchRange(server.url("/pack"), 10, 10,
                                     [&](const char* data, std::size_t size) {
                                         got.append(data, size);
                                         return true;
                                     }),
                  c.result)
            << c.what;
        EXPECT_LE(got.size(), 10u) << c.what;
        EXPECT_TRUE(c.bodyTaken || got.empty()) << c.what;
        EXPECT_EQ(got.find_first_not_of('r'), std::string::npos) << c.what;
    }
}

// Bytes 10 to 19 and 40 to 49 asked for in one request: a multipart answer holding each once, in
// any order, is taken; anything else never hands the caller a byte outside them, nor a byte out
// of order. A single range or a whole file makes the fetcher ask one range per request.
TEST_F(HttpTest, RangeFetcherTakesManyRangesOnlyAsAsked) {
    const auto part = [](const char* range, char fill) {
        return "--XyZ\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes " +
               std::string(range) + "/100\r\n\r\n" + std::string(10, fill) + "\r\n";
    };
    const auto multipart = [](const std::string& body) {
        return "HTTP/1.1 206 Partial Content\r\nContent-Type: multipart/byteranges; "
               "boundary=XyZ\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string both = part("10-19", 'a') + part("40-49", 'b');
    struct Case {
        const char* what;
        std::string answer;
        RangeResult result;
    };
    const Case cases[] = {
        {"in order", multipart(both + "--XyZ--\r\n"), RangeResult::fetched},
        {"the other order", multipart(part("40-49", 'b') + part("10-19", 'a') + "--XyZ--\r\n"),
         RangeResult::fetched},
        {"a part outside", multipart(part("10-19", 'a') + part("30-39", 'c') + "--XyZ--\r\n"),
         RangeResult::refused},
        {"a part twice", multipart(both + part("10-19", 'a') + "--XyZ--\r\n"),
         RangeResult::refused},
        {"no closing delimiter", multipart(both), RangeResult::failed},
        {"another boundary", multipart(both + "--XyW--\r\n"), RangeResult::refused},
        // Then asked one at a time: the first range comes, the second is answered the same.
        {"a single range",
         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/100\r\nContent-Length: "
         "10\r\n\r\naaaaaaaaaa",
         RangeResult::refused},
        {"the whole file", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(100, 'w'),
         RangeResult::refused},
    };
    const std::string asked = std::string(10, 'a') + std::string(10, 'b');
    for (const Case& c : cases) {
        RawServer server([&](Socket fd, RawServer&) { RawServer::send(fd, c.answer); });
        RangeFetcher fetcher;
        std::string got;
        EXPECT_EQ(fetcher.fetchRanges(server.url("/pack"), {{10, 19}, {40, 49}},
                                      [&](const char* data, std::size_t size) {
                                          got.append(data, size);
                                          return true;
                                      }),
                  c.result)
            << c.what;
        EXPECT_TRUE(asked.starts_with(got)) << c.what;
        EXPECT_TRUE(c.result != RangeResult::fetched || got == asked) << c.what;
    }
}

} // namespace
} // namespace orvanta
