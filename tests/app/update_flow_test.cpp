// The launcher's phases as the player meets them: construction, every way a check ends, what an
// installation leaves in the game folder, Retry and Play. Real loopback server, real files, a real
// window under Xvfb.
#include "launcher_fixture.hpp"
#include "platform/posix/signing_key.hpp"
#include "support/same_bytes.hpp"
#include "update/signed_manifest.hpp"

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvanta::test {
namespace {

const sf::Color amberDot(255, 210, 70);
const sf::Color greenDot(110, 200, 70);
const sf::Color redDot(235, 95, 75);
const std::string gameV2 = "#!/bin/sh\necho build two\n";

std::string shown(const sf::Text& text) {
    return text.getString().toAnsiString();
}

void expectError(const Launcher& l, const std::string& message) {
    EXPECT_EQ(l.phase, LauncherPhase::Error);
    EXPECT_EQ(shown(l.statusText), message);
    EXPECT_EQ(l.statusText.getFillColor(), errorColor);
    EXPECT_EQ(l.statusDot.getFillColor(), redDot);
    EXPECT_EQ(l.lastError, message);
}

void expectReady(const Launcher& l) {
    EXPECT_EQ(l.phase, LauncherPhase::Ready);
    EXPECT_EQ(shown(l.statusText), "Ready to play.");
    EXPECT_EQ(l.statusText.getFillColor(), statusColor);
    EXPECT_EQ(l.statusDot.getFillColor(), greenDot);
    EXPECT_FLOAT_EQ(l.progress, 1.0f);
    EXPECT_FLOAT_EQ(l.progressFill.getSize().x, 486.0f);
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 200 && !fileExists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return fileExists(path);
}

TEST_F(LauncherTest, ConstructionShowsCheckingStateAndReadsTheVersionRecord) {
    {
        auto l = makeLauncher();
        EXPECT_EQ(l->phase, LauncherPhase::Checking);
        EXPECT_EQ(shown(l->statusText), "Checking for updates...");
        EXPECT_EQ(l->statusText.getFillColor(), statusColor);
        EXPECT_EQ(l->statusDot.getFillColor(), amberDot);
        EXPECT_EQ(l->progress, 0.0f);
        EXPECT_EQ(l->progressFill.getSize().x, 0.0f);
        EXPECT_EQ(shown(l->changelogText), "Waiting for update info...");
        EXPECT_TRUE(l->lastError.empty());
        EXPECT_FALSE(l->manifest.has_value());
        // No record yet: the folder is created and the version reads as 0.0.0.
        EXPECT_TRUE(std::filesystem::is_directory(installDir()));
        EXPECT_EQ(l->exePath, exe());
        EXPECT_EQ(l->versionPath, record());
        EXPECT_EQ(l->installedVersion, "0.0.0");
        EXPECT_EQ(shown(l->versionText), "Installed v0.0.0");
        EXPECT_EQ(l->window.getSize(), sf::Vector2u(580, 460));
        // Nothing is fetched until run() or a click starts a check; a click now does nothing.
        l->handleEvent(leftPress(buttonCentre()));
        EXPECT_EQ(channel.manifestRequests, 0);
        EXPECT_EQ(l->phase, LauncherPhase::Checking);
    }
    writeFile(record(), "  2.1 beta\r\n");
    EXPECT_EQ(makeLauncher()->installedVersion, "2.1 beta");
    writeFile(record(), "\n");
    EXPECT_EQ(makeLauncher()->installedVersion, "0.0.0");
}

TEST_F(LauncherTest, UnreachableServerOrNon2xxAnswerEndsInErrorAndKeepsTheManifest) {
    serve("1.0", gameV2);
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l);
    ASSERT_TRUE(l->manifest.has_value());

    // A 404 with a JSON body is not parsed: it counts as no answer.
    channel.manifestStatus = 404;
    l->resetForRetry();
    l->checkForUpdates();
    expectError(*l, "Could not reach update server.");
    EXPECT_EQ(shown(l->changelogText), "Connect to the internet and press Retry.");
    EXPECT_FLOAT_EQ(l->progress, 0.0f);
    ASSERT_TRUE(l->manifest.has_value());
    EXPECT_EQ(l->manifest->game_version, "1.0");

    server.stop();
    l->resetForRetry();
    l->checkForUpdates();
    expectError(*l, "Could not reach update server.");
}

TEST_F(LauncherTest, InvalidManifestEndsInErrorAndDropsTheEarlierManifest) {
    serve("1.0", gameV2);
    auto l = makeLauncher();
    l->checkForUpdates();
    ASSERT_TRUE(l->manifest.has_value());

    for (const char* body : {"<html>Server error</html>", R"({"game_url": "http://x/"})",
                             R"({"game_version": "1", "game_url": "u", "changelog": null})"}) {
        channel.manifestBody = body;
        l->resetForRetry();
        l->checkForUpdates();
        expectError(*l, "Update manifest is invalid.");
        EXPECT_EQ(shown(l->changelogText), "The update file on the server may be misconfigured.");
        EXPECT_FALSE(l->manifest.has_value());
    }
}

// With the studio's key the launcher uses only a manifest that key signed, and a refused one
// downloads nothing; a signature that does not verify its manifest is fetched once more with it,
// as a cache may hold the two at different ages; both are asked for past any cache. A launcher
// without a key never asks for the signature file.
TEST_F(LauncherTest, WithAKeyOnlyASignedManifestIsInstalled) {
    const std::string signing = std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/";
    serve("1.2.0", gameV2);
    std::string signedBody = channel.manifestBody;
    signedBody.insert(signedBody.rfind('}'), R"(, "published_at": "2024-06-02T09:30:00Z")");
    signedBody.insert(signedBody.rfind('}'),
                      R"(, "channel": ")" + server.url("/orvanta-downloads/manifest.json") + "\"");
    channel.signatureBody =
        encodeSignatureLine(signData(signedBody, readFile(signing + "studio-a.pem"))) + "\n";
    channel.manifestBody = signedBody;
    channel.manifestBody[channel.manifestBody.find("1.2.0")] = '7'; // tampered after signing
    auto l = makeLauncher({readFile(signing + "studio-a.pub.pem")});
    for (int status : {404, 200}) {
        channel.signatureStatus = status;
        l->resetForRetry();
        l->checkForUpdates();
        expectError(*l, "Update manifest is invalid.");
    }
    EXPECT_EQ(gameRequests(), 0);
    EXPECT_FALSE(fileExists(exe()));
    EXPECT_EQ(channel.signatureRequests, 3); // 404 once; 200 twice, the pair fetched again

    channel.manifestBody = signedBody;
    channel.staleSignatureBody = channel.signatureBody;
    channel.staleSignatureBody[channel.staleSignatureBody.size() / 2] ^= 1;
    const int manifestsBefore = channel.manifestRequests;
    l->resetForRetry();
    l->checkForUpdates();
    expectReady(*l);
    EXPECT_EQ(readFile(exe()), gameV2);
    EXPECT_EQ(readFile(installDir() + "/published_at.txt"), "2024-06-02T09:30:00Z");
    EXPECT_EQ(channel.signatureRequests, 5);
    EXPECT_EQ(channel.manifestRequests - manifestsBefore, 2);
    EXPECT_EQ(channel.cacheControl, "no-cache");

    l.reset();
    std::filesystem::remove(exe());
    auto keyless = makeLauncher();
    keyless->checkForUpdates();
    expectReady(*keyless);
    EXPECT_EQ(channel.signatureRequests, 5);
}

// A release dated 2099 by a wrong clock is installed, and the honest release after it too.
TEST_F(LauncherTest, AManifestDatedAheadOfTheClockLocksNoOneOut) {
    const std::string signing = std::string(ORVANTA_SOURCE_DIR) + "/tests/data/signing/";
    auto l = makeLauncher({readFile(signing + "studio-a.pub.pem")});
    channel.signatureStatus = 200;
    for (const auto& [version, date] :
         {std::pair<std::string, std::string>{"1.2.0", "2099-01-01T00:00:00Z"}, {"1.3.0", ""}}) {
        SCOPED_TRACE(version);
        // Dated now, after the first release was taken: its record is the clock at that time.
        const std::string publishedAt = date.empty() ? publishedAtNow() : date;
        serve(version, gameV2 + version);
        channel.manifestBody.insert(channel.manifestBody.rfind('}'),
                                    R"(, "published_at": ")" + publishedAt + R"(", "channel": ")" +
                                        server.url("/orvanta-downloads/manifest.json") + "\"");
        channel.signatureBody = encodeSignatureLine(signData(channel.manifestBody,
                                                             readFile(signing + "studio-a.pem"))) +
                                "\n";
        l->resetForRetry();
        l->checkForUpdates();
        expectReady(*l);
        EXPECT_EQ(readFile(exe()), gameV2 + version);
        EXPECT_LE(readFile(installDir() + "/published_at.txt"), publishedAtNow());
    }
}

TEST_F(LauncherTest, FirstStartDownloadsVerifiesInstallsAndIsReady) {
    serve("1.2.0", gameV2, "auto",
          "Harvest festival: pumpkins and sunflowers arrive in the autumn fields today.");
    writeFile(leftover(), "half a download from an earlier run");
    auto l = makeLauncher();
    l->checkForUpdates();

    expectReady(*l);
    EXPECT_TRUE(l->lastError.empty());
    EXPECT_EQ(readFile(exe()), gameV2);
    EXPECT_EQ(readFile(record()), "1.2.0");
    EXPECT_FALSE(fileExists(leftover()));
    struct stat info {};
    ASSERT_EQ(stat(exe().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_EQ(l->installedVersion, "1.2.0");
    EXPECT_EQ(shown(l->versionText), "Installed v1.2.0   |   Latest v1.2.0");
    // Wrapped at the first space once a line holds 62 characters.
    EXPECT_EQ(shown(l->changelogText),
              "Harvest festival: pumpkins and sunflowers arrive in the autumn\n"
              "fields today.");
    EXPECT_EQ(gameRequests(), 1);

    // The next start finds the game current: no download; an empty changelog has its own words.
    serve("1.2.0", gameV2, "auto", "");
    l.reset();
    auto again = makeLauncher();
    EXPECT_EQ(again->installedVersion, "1.2.0");
    again->checkForUpdates();
    expectReady(*again);
    EXPECT_EQ(shown(again->changelogText), "No changelog for this version.");
    EXPECT_EQ(gameRequests(), 1);
}

// A second launcher started on the folder while the first downloads leaves the folder to it,
// says so, and works normally once the first has closed.
TEST_F(LauncherTest, OneLauncherAtATimeWorksOnTheFolder) {
    installOld("1.0.0", "build one");
    serve("1.2.0", gameV2 + std::string(300000, 'x'));
    const std::string served = channel.gameBody;
    std::promise<void> downloading;
    std::promise<void> resume;
    std::shared_future<void> resumed = resume.get_future().share();
    std::atomic<bool> held{false};
    // Only the first download is held: should the lock let a second one through, it runs on and
    // the checks below say so, where a second wait would hang or abort the program.
    channel.midBody = [&] {
        if (!held.exchange(true)) {
            downloading.set_value();
            resumed.wait();
        }
    };

    auto first = makeLauncher();
    std::thread firstCheck([&] { first->checkForUpdates(); });
    downloading.get_future().wait();
    auto second = makeLauncher();
    second->checkForUpdates();
    resume.set_value();
    firstCheck.join();

    EXPECT_EQ(second->phase, LauncherPhase::Error);
    EXPECT_EQ(second->lastError, "The launcher is already running.");
    expectReady(*first);
    EXPECT_TRUE(test::sameBytes(readFile(exe()), served));
    EXPECT_EQ(readFile(record()), "1.2.0");
    EXPECT_EQ(gameRequests(), 1);

    second->clickAt(buttonCentre()); // Retry while the first is still open
    EXPECT_EQ(second->lastError, "The launcher is already running.");
    first.reset();
    second->clickAt(buttonCentre());
    expectReady(*second);
    EXPECT_EQ(gameRequests(), 1);
}

// Whether a check downloads, for each kind of installed game.
TEST_F(LauncherTest, VersionsMatchIgnoringCaseAndAreNeverOrdered) {
    installOld("1.0.0-RC", "locally patched");
    serve("1.0.0-rc", gameV2, "");
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l); // same version, no digest: the local file is kept as it is
    EXPECT_EQ(gameRequests(), 0);
    EXPECT_EQ(readFile(exe()), "locally patched");

    l.reset();
    // Neither older nor a prefix counts as the same build.
    const std::pair<const char*, const char*> differing[] = {
        {"1.10", "1.9"}, {"1.9", "1.9.1"}, {"1.9.1", "1.9"}};
    int requests = 0;
    for (const auto& [installed, served] : differing) {
        installOld(installed, "build " + std::string(installed));
        serve(served, gameV2);
        auto other = makeLauncher();
        other->checkForUpdates();
        expectReady(*other);
        EXPECT_EQ(gameRequests(), ++requests) << installed << " -> " << served;
        EXPECT_EQ(readFile(exe()), gameV2);
        EXPECT_EQ(other->installedVersion, served);
    }
}

TEST_F(LauncherTest, MissingRecordWithTheGamePresentDownloadsAgain) {
    std::filesystem::create_directories(installDir());
    writeFile(exe(), gameV2, true);
    serve("3.0", gameV2);
    auto l = makeLauncher();
    EXPECT_EQ(l->installedVersion, "0.0.0");
    l->checkForUpdates();
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 1);
    EXPECT_EQ(readFile(record()), "3.0");
}

TEST_F(LauncherTest, DigestDecidesWhenVersionsMatch) {
    serve("2.0", gameV2);
    std::string upper = digestOf(gameV2);
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    installOld("2.0", gameV2);
    serve("2.0", gameV2, upper);
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 0);

    installOld("2.0", "tampered");
    l->resetForRetry();
    l->checkForUpdates();
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 1);
    EXPECT_EQ(readFile(exe()), gameV2);

    if (geteuid() != 0) {
        // A game that cannot be read for hashing counts as current.
        writeFile(exe(), "tampered", true);
        chmod(exe().c_str(), 0);
        l->resetForRetry();
        l->checkForUpdates();
        expectReady(*l);
        EXPECT_EQ(gameRequests(), 1);
    }
}

// Failed installations: the message, the colours, and the folder left as it was.
TEST_F(LauncherTest, FailedDownloadOrVerificationLeavesTheInstalledGame) {
    struct Case {
        int status;
        std::string sha;
        const char* message;
        std::string gameSize; // empty: the manifest announces no size
    };
    const std::string good = digestOf(gameV2);
    const Case cases[] = {
        {404, "auto", "Download failed. Check your internet connection.", ""},
        {200, std::string(64, 'a'), "Download verification failed.", ""},
        {200, good.substr(0, 63), "Download verification failed.", ""},
        {200, "auto", "Download failed. Check your internet connection.",
         std::to_string(gameV2.size() - 1)},
        {200, "auto", "Download verification failed.", std::to_string(gameV2.size() + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + (" / " + c.sha + " / " + c.gameSize));
        installOld("1.0", "old build");
        channel.gameStatus = c.status;
        serve("2.0", gameV2, c.sha);
        if (!c.gameSize.empty()) {
            channel.manifestBody.insert(channel.manifestBody.rfind('}'),
                                        R"(, "game_size": ")" + c.gameSize + "\"");
        }
        auto l = makeLauncher();
        l->checkForUpdates();
        expectError(*l, c.message);
        EXPECT_EQ(shown(l->changelogText), "Fresh crops.");
        EXPECT_EQ(readFile(exe()), "old build");
        EXPECT_EQ(readFile(record()), "1.0");
        EXPECT_FALSE(fileExists(leftover()));
        EXPECT_EQ(l->installedVersion, "1.0");
    }
}

TEST_F(LauncherTest, ProgressFollowsContentLength) {
    // Without a length the bar does not move during the download; Ready fills it.
    channel.sendLength = false;
    serve("2.0", gameV2);
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l);
    EXPECT_EQ(readFile(exe()), gameV2);

    // A transfer cut short keeps the fraction it reached beside the failure.
    std::filesystem::remove(exe());
    channel.sendLength = true;
    serve("2.0", std::string(200000, 'x'));
    channel.cutAfter = 100000;
    l->resetForRetry();
    l->checkForUpdates();
    expectError(*l, "Download failed. Check your internet connection.");
    EXPECT_GT(l->progress, 0.0f);
    EXPECT_LT(l->progress, 1.0f);
    EXPECT_FLOAT_EQ(l->progressFill.getSize().x, 486.0f * l->progress);
    EXPECT_FALSE(fileExists(leftover()));
}

TEST_F(LauncherTest, RetryRunsANewCheckAndKeepsTheLastError) {
    channel.manifestStatus = 503;
    serve("1.0", gameV2);
    auto l = makeLauncher();
    l->checkForUpdates();
    expectError(*l, "Could not reach update server.");

    // Only a left press on the button counts.
    sf::Event right = leftPress(buttonCentre());
    right.mouseButton.button = sf::Mouse::Right;
    l->handleEvent(right);
    sf::Event release = leftPress(buttonCentre());
    release.type = sf::Event::MouseButtonReleased;
    l->handleEvent(release);
    l->handleEvent(leftPress({20, 20}));
    EXPECT_EQ(channel.manifestRequests, 1);

    l->handleEvent(leftPress(buttonCentre())); // fails the same way again
    EXPECT_EQ(channel.manifestRequests, 2);
    expectError(*l, "Could not reach update server.");

    channel.manifestStatus = 200;
    l->handleEvent(leftPress(buttonCentre()));
    expectReady(*l);
    EXPECT_EQ(l->lastError, "Could not reach update server.");
    EXPECT_EQ(shown(l->changelogText), "Fresh crops.");
}

TEST_F(LauncherTest, PlayStartsTheInstalledGameAndStaysReady) {
    const std::string marker = home.file("started");
    serve("1.0", "#!/bin/sh\necho started > '" + marker + "'\n");
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l);

    l->handleEvent(leftPress(buttonCentre()));
    EXPECT_TRUE(waitForFile(marker));
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 1);
    l->runFrame();
    EXPECT_EQ(shown(l->buttonLabel), "Play");
}

TEST_F(LauncherTest, PlayRedownloadsADeletedOrModifiedGameInsteadOfStartingIt) {
    const std::string marker = home.file("started");
    serve("1.0", "#!/bin/sh\necho started > '" + marker + "'\n");
    auto l = makeLauncher();
    l->checkForUpdates();
    ASSERT_EQ(gameRequests(), 1);

    std::filesystem::remove(exe());
    l->clickAt(buttonCentre());
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 2);
    EXPECT_TRUE(fileExists(exe()));

    writeFile(exe(), "#!/bin/sh\necho modified > '" + marker + "'\n", true);
    l->clickAt(buttonCentre());
    expectReady(*l);
    EXPECT_EQ(gameRequests(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fileExists(marker));
}

TEST_F(LauncherTest, GameThatCannotStartShowsErrorBesideTheReadyDot) {
    serve("1.0", "#!/nonexistent/interpreter\nexit 0\n");
    auto l = makeLauncher();
    l->checkForUpdates();
    expectReady(*l);

    l->clickAt(buttonCentre());
    EXPECT_EQ(l->phase, LauncherPhase::Error);
    EXPECT_EQ(shown(l->statusText), "Could not start the game.");
    EXPECT_EQ(l->statusText.getFillColor(), errorColor);
    EXPECT_EQ(l->statusDot.getFillColor(), greenDot);
    EXPECT_TRUE(l->lastError.empty());
    EXPECT_FLOAT_EQ(l->progress, 1.0f);
    l->runFrame();
    EXPECT_EQ(shown(l->buttonLabel), "Retry");
}

TEST_F(LauncherTest, StatusProgressAndChangelogOperations) {
    auto l = makeLauncher();
    // The dot follows the phase at the time of the call, the text colour the argument.
    l->phase = LauncherPhase::Downloading;
    l->setStatus("Same words", errorColor);
    EXPECT_EQ(l->statusDot.getFillColor(), amberDot);
    l->phase = LauncherPhase::Error;
    l->setStatus("Same words", errorColor);
    EXPECT_EQ(l->statusDot.getFillColor(), redDot);
    EXPECT_EQ(l->statusText.getFillColor(), errorColor);

    const std::pair<float, float> clamps[] = {
        {1.5f, 1.0f}, {-0.2f, 0.0f}, {0.5f, 0.5f}, {std::nanf(""), 0.0f}};
    for (const auto& [given, stored] : clamps) {
        l->setProgress(given);
        EXPECT_EQ(l->progress, stored);
        EXPECT_EQ(l->progressFill.getSize(), sf::Vector2f(486.0f * stored, 12.0f));
        EXPECT_EQ(l->progressShine.getSize(), sf::Vector2f(486.0f * stored, 3.0f));
    }
    l->onDownloadProgress(5, 0); // no length: unchanged
    EXPECT_EQ(l->progress, 0.0f);
    l->onDownloadProgress(1, 4);
    EXPECT_EQ(l->progress, 0.25f);
    l->onDownloadProgress(7, 7);
    EXPECT_EQ(l->progress, 1.0f);

    // resetForRetry touches phase, status and progress only.
    l->lastError = "older failure";
    l->setChangelog("kept");
    l->resetForRetry();
    EXPECT_EQ(l->phase, LauncherPhase::Checking);
    EXPECT_EQ(shown(l->statusText), "Checking for updates...");
    EXPECT_EQ(l->progress, 0.0f);
    EXPECT_EQ(l->lastError, "older failure");
    EXPECT_EQ(shown(l->changelogText), "kept");
}

TEST_F(LauncherTest, TextsAreDecodedFromUtf8) {
    auto l = makeLauncher();
    l->setChangelog("Gr\xC3\xBC\xC3\x9F"
                    "e \xF0\x9F\x8C\xBD");
    const sf::String text = l->changelogText.getString();
    ASSERT_EQ(text.getSize(), 7u);
    EXPECT_EQ(text[2], 0xFCu);
    EXPECT_EQ(text[6], 0x1F33Du);
    // Malformed input shows replacement characters, one per bad byte, and never more text.
    l->setStatus("a\xFF"
                 "b\xC3"
                 "c\xE0\x80\x80"
                 "d\xED\xA0\x80",
                 statusColor);
    const sf::String status = l->statusText.getString();
    ASSERT_EQ(status.getSize(), 12u);
    EXPECT_EQ(status[1], 0xFFFDu);
    EXPECT_EQ(status[3], 0xFFFDu);
    EXPECT_EQ(status[4], sf::Uint32('c'));
    EXPECT_EQ(status[7], 0xFFFDu);
    EXPECT_EQ(status[8], sf::Uint32('d'));
    EXPECT_EQ(status[11], 0xFFFDu);
    // The changelog wraps by characters: 62 two-byte letters and a space make one line.
    const std::string word = [] {
        std::string w;
        for (int i = 0; i < 61; ++i) {
            w += "\xC3\xA9";
        }
        return w;
    }();
    l->setChangelog(word + " x");
    EXPECT_EQ(l->changelogText.getString().getSize(), 63u);
    EXPECT_EQ(l->changelogText.getString()[61], sf::Uint32('\n'));
}

TEST_F(LauncherTest, CloseAndResizeEvents) {
    auto l = makeLauncher();
    sf::Event resized;
    resized.type = sf::Event::Resized;
    resized.size.width = 800;
    resized.size.height = 600;
    l->handleEvent(resized);
    EXPECT_EQ(l->window.getView().getSize(), sf::Vector2f(800.0f, 600.0f));
    EXPECT_EQ(l->window.getView().getCenter(), sf::Vector2f(400.0f, 300.0f));
    EXPECT_EQ(l->button.getPosition(), sf::Vector2f(290.0f, 382.0f)); // layout stays

    sf::Event closed;
    closed.type = sf::Event::Closed;
    l->handleEvent(closed);
    EXPECT_FALSE(l->window.isOpen());
    l->runFrame(); // a frame after closing draws nothing and does not fail
}

} // namespace
} // namespace orvanta::test
