#include "launcher_fixture.hpp"

#include "app/display.hpp"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace orvanta::test {

namespace {

// Keeps one OpenGL context for the whole test program. Without it the graphics driver is unloaded
// whenever the last window goes, and the leak checker can then no longer name (or suppress) the
// driver's own one-time allocations.
class KeepGraphicsLoaded : public testing::Environment {
  public:
    void SetUp() override {
        if (context == nullptr && displayAvailable()) {
            context = new sf::Context();
        }
    }
    static inline sf::Context* context = nullptr; // deliberately never destroyed
};

const testing::Environment* const keepGraphicsLoaded =
    testing::AddGlobalTestEnvironment(new KeepGraphicsLoaded);

} // namespace

void LauncherTest::SetUp() {
    server.server().Get("/orvanta-downloads/manifest.json",
                        [this](const httplib::Request& req, httplib::Response& res) {
                            std::lock_guard<std::mutex> guard(channel.lock);
                            ++channel.manifestRequests;
                            channel.cacheControl = req.get_header_value("Cache-Control");
                            res.status = channel.manifestStatus;
                            res.set_content(channel.manifestBody, "application/json");
                        });
    server.server().Get("/orvanta-downloads/manifest.json.sig", [this](const httplib::Request& req,
                                                                       httplib::Response& res) {
        std::lock_guard<std::mutex> guard(channel.lock);
        ++channel.signatureRequests;
        if (req.get_header_value("Cache-Control") != channel.cacheControl) {
            channel.cacheControl = "differs";
        }
        res.status = channel.signatureStatus;
        res.set_content(channel.staleSignatureBody.empty() ? channel.signatureBody
                                                           : channel.staleSignatureBody,
                        "text/plain");
        channel.staleSignatureBody.clear();
    });
    server.server().Get("/game.bin", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> guard(channel.lock);
        ++channel.gameRequests;
        res.status = channel.gameStatus;
        const std::string body = channel.gameBody;
        if (channel.gameStatus != 200) {
            res.set_content("no such build", "text/plain");
        } else if (channel.cutAfter != 0) {
            const std::size_t cut = channel.cutAfter;
            res.set_content_provider(
                body.size(), "application/octet-stream",
                [body, cut](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset >= cut) {
                        return false; // drop the connection mid-body
                    }
                    sink.write(body.data() + offset, cut - offset);
                    return true;
                });
        } else if (channel.midBody) {
            auto pause = std::make_shared<std::function<void()>>(channel.midBody);
            res.set_content_provider(
                body.size(), "application/octet-stream",
                [body, pause](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    const std::size_t half = body.size() / 2;
                    if (offset >= half && *pause) {
                        (*pause)();
                        *pause = nullptr;
                    }
                    const std::size_t end = offset < half ? half : body.size();
                    sink.write(body.data() + offset, end - offset);
                    return true;
                });
        } else if (!channel.sendLength) {
            res.set_chunked_content_provider("application/octet-stream",
                                             [body](std::size_t, httplib::DataSink& sink) {
                                                 sink.write(body.data(), body.size());
                                                 sink.done();
                                                 return true;
                                             });
        } else {
            res.set_content(body, "application/octet-stream");
        }
    });
    server.start();
}

std::unique_ptr<Launcher> LauncherTest::makeLauncher(std::vector<std::string> publicKeys) {
    return std::make_unique<Launcher>(server.url("/orvanta-downloads/manifest.json"),
                                      std::move(publicKeys));
}

std::string LauncherTest::digestOf(const std::string& bytes) {
    const std::string path = home.file("digest-input");
    writeFile(path, bytes);
    return sha256File(path);
}

std::string LauncherTest::manifestJson(const std::string& version, const std::string& sha,
                                       const std::string& changelog) {
    std::string digest = sha;
    if (sha == "auto") {
        std::lock_guard<std::mutex> guard(channel.lock);
        const std::string body = channel.gameBody;
        digest = digestOf(body);
    }
    return R"({"game_version": ")" + version + R"(", "game_url": ")" + server.url("/game.bin") +
           R"(", "game_sha256": ")" + digest + R"(", "changelog": ")" + changelog + R"("})";
}

void LauncherTest::serve(const std::string& version, const std::string& game,
                         const std::string& sha, const std::string& changelog) {
    {
        std::lock_guard<std::mutex> guard(channel.lock);
        channel.gameBody = game;
    }
    const std::string json = manifestJson(version, sha, changelog);
    std::lock_guard<std::mutex> guard(channel.lock);
    channel.manifestBody = json;
}

int LauncherTest::gameRequests() {
    std::lock_guard<std::mutex> guard(channel.lock);
    return channel.gameRequests;
}

void LauncherTest::installOld(const std::string& version, const std::string& game) {
    std::filesystem::create_directories(installDir());
    writeFile(exe(), game, true);
    writeFile(record(), version);
}

sf::Event leftPress(sf::Vector2i at) {
    sf::Event event;
    event.type = sf::Event::MouseButtonPressed;
    event.mouseButton.button = sf::Mouse::Left;
    event.mouseButton.x = at.x;
    event.mouseButton.y = at.y;
    return event;
}

sf::Color over(sf::Color src, sf::Color dst) {
    const auto mix = [&](sf::Uint8 s, sf::Uint8 d) {
        return static_cast<sf::Uint8>(std::lround((s * src.a + d * (255 - src.a)) / 255.0));
    };
    return {mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b)};
}

sf::Color sky(int y) {
    const double t = (y + 0.5) / 156.4;
    const auto lerp = [&](double a, double b) {
        return static_cast<sf::Uint8>(std::lround(a + (b - a) * t));
    };
    return over({118, 186, 228, 40}, {lerp(118, 72), lerp(186, 118), lerp(228, 62)});
}

sf::Color ground() {
    return over({92, 58, 34, 120}, {36, 52, 28});
}

testing::AssertionResult looksLike(const sf::Image& frame, int x, int y, sf::Color expected,
                                   int tolerance) {
    const sf::Color got = frame.getPixel(static_cast<unsigned>(x), static_cast<unsigned>(y));
    const bool close = std::abs(got.r - expected.r) <= tolerance &&
                       std::abs(got.g - expected.g) <= tolerance &&
                       std::abs(got.b - expected.b) <= tolerance;
    if (close) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is rgb(" << int(got.r) << ", " << int(got.g) << ", "
           << int(got.b) << "), expected about rgb(" << int(expected.r) << ", " << int(expected.g)
           << ", " << int(expected.b) << ")";
}

} // namespace orvanta::test
