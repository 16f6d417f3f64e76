// `cmake --install` into a fresh prefix, then the installed programs used from elsewhere.

#include "e2e_support.hpp"
#include "support/temp_dir.hpp"

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvanta::e2e {
namespace {

using test::fileExists;
using test::readFile;
using test::TempDir;

constexpr Rgb titleColour{255, 240, 160};
constexpr Rgb errorDot{235, 95, 75};
// The header's title "Orvanta" lies within this rectangle.
constexpr int titleX0 = 110, titleY0 = 22, titleX1 = 330, titleY1 = 66;

// The width and height a PNG file declares, or 0 x 0.
std::pair<unsigned, unsigned> pngSize(const std::string& path) {
    const std::string bytes = readFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        return {0, 0};
    }
    auto be32 = [&](std::size_t at) {
        unsigned value = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
        }
        return value;
    };
    return {be32(16), be32(20)};
}

// A loopback port that refuses connections for as long as the object lives: bound, never
// listening. Used as the proxy, so the default build's placeholder server is never looked up.
class RefusingPort {
  public:
    RefusingPort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~RefusingPort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

  private:
    int fd_ = -1;
    int port_ = 0;
};

class InstalledLauncher : public testing::Test {
  protected:
    // Runs a launcher until it shows its error screen (no server can be reached) and returns
    // that screen.
    std::optional<Screenshot> errorScreenOf(const std::string& program,
                                            const std::string& workingDirectory,
                                            const std::string& name) {
        EnvChanges env = noProxyEnvironment();
        addInstalledLauncherSanitizerOptions(env);
        const std::string proxy = "http://127.0.0.1:" + std::to_string(refusing_.port());
        env["https_proxy"] = proxy;
        env["http_proxy"] = proxy;
        env["no_proxy"] = std::nullopt;
        env["DISPLAY"] = display_->name();
        env["XDG_DATA_HOME"] = dir_.file("data-" + name);
        env["HOME"] = dir_.file("home");
        const std::string log = dir_.file(name + ".log");
        Process launcher({program}, workingDirectory, env, log);
        unsigned long window = 0;
        EXPECT_TRUE(waitUntil(
            [&] {
                window = client_->findWindow("Orvanta");
                return window != 0 || !launcher.running();
            },
            60s));
        if (window == 0) {
            ADD_FAILURE() << name << " showed no window: " << readFile(log);
            return std::nullopt;
        }
        std::optional<Screenshot> shot;
        const bool shown = waitUntil(
            [&] {
                shot = client_->capture(window);
                return shot && shot->width > 60 && shot->at(51, 157).near(errorDot);
            },
            90s, 150ms);
        EXPECT_TRUE(shown) << name << " never showed its error screen";
        client_->requestClose(window);
        const std::optional<int> code = launcher.waitForExit(30s);
        EXPECT_EQ(code, std::optional<int>(0)) << name << ": " << readFile(log);
        return shot;
    }

    void SetUp() override {
        std::filesystem::create_directories(dir_.file("x"));
        std::filesystem::create_directories(dir_.file("elsewhere"));
        display_.emplace(dir_.file("x"));
        ASSERT_TRUE(display_->ok()) << readFile(dir_.file("x/xvfb.log"));
        client_.emplace(display_->name());
        ASSERT_TRUE(client_->ok());
    }

    TempDir dir_;
    RefusingPort refusing_;
    std::optional<VirtualDisplay> display_;
    std::optional<DisplayClient> client_;
};

TEST_F(InstalledLauncher, InstallsProgramsFontsDesktopEntryAndSquareIcons) {
    const std::string prefix = dir_.file("prefix");
    const RunResult install =
        runProgram({CMAKE_COMMAND_PATH, "--install", ORVANTA_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.exitCode, 0) << install.output;

    for (const char* file : {"bin/orvanta-launcher", "bin/orvanta-publish",
                             "share/orvanta-launcher/fonts/Nunito-Bold.ttf",
                             "share/orvanta-launcher/fonts/Nunito-Regular.ttf",
                             "share/orvanta-launcher/fonts/OFL.txt"}) {
        EXPECT_TRUE(fileExists(prefix + "/" + file)) << file;
    }
    const std::string entry = readFile(prefix + "/share/applications/orvanta-launcher.desktop");
    EXPECT_NE(entry.find("\nExec=" + prefix + "/bin/orvanta-launcher\n"), std::string::npos)
        << entry;
    EXPECT_NE(entry.find("\nIcon=orvanta-launcher\n"), std::string::npos) << entry;
    for (unsigned side : {16u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string size = std::to_string(side) + "x" + std::to_string(side);
        const std::string icon =
            prefix + "/share/icons/hicolor/" + size + "/apps/orvanta-launcher.png";
        EXPECT_EQ(pngSize(icon), std::make_pair(side, side)) << icon;
    }

    // The installed tool works from anywhere.
    const RunResult help =
        runProgram({prefix + "/bin/orvanta-publish", "--help"}, {}, dir_.file("elsewhere"));
    EXPECT_EQ(help.exitCode, 0) << help.output;
}

TEST_F(InstalledLauncher, FindsItsFontsFromAnyWorkingFolder) {
    const std::string prefix = dir_.file("prefix");
    const RunResult install =
        runProgram({CMAKE_COMMAND_PATH, "--install", ORVANTA_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(install.exitCode, 0) << install.output;

    // The installed launcher, started from a folder that has nothing to do with it...
    const auto installed =
        errorScreenOf(prefix + "/bin/orvanta-launcher", dir_.file("elsewhere"), "installed");
    // ...against the build's launcher in the source tree, where assets/fonts is at hand.
    const auto reference = errorScreenOf(ORVANTA_BUILD_LAUNCHER, ORVANTA_SOURCE_DIR, "reference");
    ASSERT_TRUE(installed && reference);

    EXPECT_GT(installed->count(titleX0, titleY0, titleX1, titleY1, titleColour, 2), 100)
        << "no title drawn: the installed launcher found no font";
    // The same font draws the same pixels; a fallback face would not.
    int differing = 0;
    for (int y = titleY0; y < titleY1; ++y) {
        for (int x = titleX0; x < titleX1; ++x) {
            differing += installed->at(x, y).near(reference->at(x, y), 0) ? 0 : 1;
        }
    }
    EXPECT_EQ(differing, 0) << "the installed launcher drew its title with another font";
}

} // namespace
} // namespace orvanta::e2e
