// Fonts, the icon and the fatal-error path: files in temporary folders, a real window under Xvfb
// and the real program.
#include "app/fatal_error.hpp"
#include "app/window_icon.hpp"
#include "launcher_fixture.hpp"
#include "ui/fonts.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <array>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace orvanta::test {
namespace {

const std::string nunitoBold = std::string(ORVANTA_SOURCE_DIR) + "/assets/fonts/Nunito-Bold.ttf";
const std::string nunitoRegular =
    std::string(ORVANTA_SOURCE_DIR) + "/assets/fonts/Nunito-Regular.ttf";
const std::string dejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

// Runs the test body from another working directory and comes back afterwards.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::string& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedWorkingDirectory() { std::filesystem::current_path(previous_); }
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

void copyTo(const std::string& from, const std::string& to) {
    std::filesystem::create_directories(std::filesystem::path(to).parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

TEST(Fonts, CandidatesInSearchOrder) {
    const std::vector<std::string> bold = fontCandidates(FontFace::Bold, "/opt/orvanta/bin");
    const std::vector<std::string> expected = {
        "../../assets/fonts/Nunito-Bold.ttf",
        "../assets/fonts/Nunito-Bold.ttf",
        "assets/fonts/Nunito-Bold.ttf",
        "C:/Windows/Fonts/segoeuib.ttf",
        "C:/Windows/Fonts/arialbd.ttf",
        "/opt/orvanta/bin/../share/orvanta-launcher/fonts/Nunito-Bold.ttf",
        "/opt/orvanta/bin/assets/fonts/Nunito-Bold.ttf",
        "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
        "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf",
    };
    EXPECT_EQ(bold, expected);
    const std::vector<std::string> regular = fontCandidates(FontFace::Regular, "");
    ASSERT_EQ(regular.size(), 7u); // nothing beside an unknown program folder
    EXPECT_EQ(regular[2], "assets/fonts/Nunito-Regular.ttf");
    EXPECT_EQ(regular[3], "C:/Windows/Fonts/segoeui.ttf");
    EXPECT_EQ(regular[5], "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
}

TEST(Fonts, FirstCandidateThatOpensWinsRelativeToTheWorkingDirectory) {
    TempDir root;
    const std::string deep = root.path() + "/pkg/bin";
    std::filesystem::create_directories(deep);
    ScopedWorkingDirectory cwd(deep);
    const std::vector<std::string> list = fontCandidates(FontFace::Bold, "");

    // Two levels up holds a different face under the Nunito name: it is taken first.
    copyTo(dejaVu, root.path() + "/assets/fonts/Nunito-Bold.ttf");
    copyTo(nunitoBold, root.path() + "/pkg/assets/fonts/Nunito-Bold.ttf");
    copyTo(nunitoBold, deep + "/assets/fonts/Nunito-Bold.ttf");
    sf::Font font;
    EXPECT_EQ(loadFirstFont(font, list), std::optional<std::size_t>(0));
    EXPECT_EQ(font.getInfo().family, "DejaVu Sans");

    // An empty file and a corrupt one count as missing.
    writeFile(root.path() + "/assets/fonts/Nunito-Bold.ttf", "");
    writeFile(root.path() + "/pkg/assets/fonts/Nunito-Bold.ttf", "not a font at all");
    EXPECT_EQ(loadFirstFont(font, list), std::optional<std::size_t>(2));
    EXPECT_EQ(font.getInfo().family, "Nunito");

    // Nothing under the working directory: the system face.
    std::filesystem::remove(deep + "/assets/fonts/Nunito-Bold.ttf");
    EXPECT_EQ(loadFirstFont(font, list), std::optional<std::size_t>(5));
    EXPECT_EQ(font.getInfo().family, "DejaVu Sans");

    // A list that never opens leaves an empty face whose texts have no size.
    sf::Font none;
    EXPECT_EQ(loadFirstFont(none, {"missing.ttf", root.path() + "/assets/fonts/Nunito-Bold.ttf"}),
              std::nullopt);
    const sf::Text text("Play", none, 24);
    EXPECT_EQ(text.getLocalBounds().width, 0.0f);
}

TEST_F(LauncherTest, LauncherFacesAreSearchedIndependently) {
    const std::string work = home.path() + "/work";
    ScopedWorkingDirectory cwd(home.path());
    std::filesystem::create_directories(work);
    {
        ScopedWorkingDirectory inWork(work);
        copyTo(nunitoBold, "../assets/fonts/Nunito-Bold.ttf"); // only the bold face, one up
        writeFile("assets/fonts/Nunito-Regular.ttf", "corrupt");
        auto l = makeLauncher();
        EXPECT_EQ(l->boldFont.getInfo().family, "Nunito");
        EXPECT_EQ(l->regularFont.getInfo().family, "DejaVu Sans");
        EXPECT_EQ(l->titleText.getFont(), &l->boldFont);
        EXPECT_EQ(l->statusText.getFont(), &l->regularFont);
        EXPECT_EQ(l->buttonLabel.getFont(), &l->boldFont);
    }
}

TEST(Icon, EmbeddedImagesDecodeAtTheirSizesWithAlpha) {
    const std::span<const EmbeddedImage> icons = embeddedIcons();
    const std::array<sf::Vector2u, 7> sizes = {
        {{16, 11}, {24, 16}, {32, 21}, {48, 32}, {64, 43}, {128, 85}, {256, 171}}};
    ASSERT_EQ(icons.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        sf::Image image;
        ASSERT_TRUE(image.loadFromMemory(icons[i].bytes, icons[i].size));
        EXPECT_EQ(image.getSize(), sizes[i]);
        EXPECT_EQ(sf::Vector2u(icons[i].width, icons[i].height), sizes[i]);
        EXPECT_EQ(image.getPixel(0, 0).a, 0);                                 // transparent corner
        EXPECT_EQ(image.getPixel(sizes[i].x / 2, sizes[i].y * 3 / 4).a, 255); // solid field
    }
    const std::optional<sf::Image> icon = loadWindowIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->getSize(), sf::Vector2u(256, 171));
}

TEST(Icon, FallsBackToTheSmallerImageAndGivesNothingWithoutOne) {
    const std::span<const EmbeddedImage> real = embeddedIcons();
    const unsigned char garbage[] = {1, 2, 3, 4};
    const EmbeddedImage broken256{256, 171, garbage, sizeof garbage};
    const EmbeddedImage set[] = {real[0], broken256, real[4]};
    const std::optional<sf::Image> picked = loadIconFrom(set);
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(picked->getSize(), sf::Vector2u(64, 43));

    const EmbeddedImage onlySmall[] = {real[0], real[2]};
    EXPECT_FALSE(loadIconFrom(onlySmall).has_value());
    EXPECT_FALSE(loadIconFrom({}).has_value());
}

TEST(Icon, BgraPixelsBecomeRgbaTopRowFirst) {
    // 2 x 2: top row (10, 20, 30, 40) and (1, 2, 3, 255); bottom row (0, 0, 0, 0) and
    // (200, 100, 50, 128), each in memory order blue, green, red, fourth byte.
    const std::uint8_t pixels[] = {10, 20, 30, 40, 1, 2, 3, 255, 0, 0, 0, 0, 200, 100, 50, 128};
    const sf::Image image = imageFromBgra(pixels, 2, 2);
    ASSERT_EQ(image.getSize(), sf::Vector2u(2, 2));
    EXPECT_EQ(image.getPixel(0, 0), sf::Color(30, 20, 10, 40));
    EXPECT_EQ(image.getPixel(1, 0), sf::Color(3, 2, 1, 255));
    EXPECT_EQ(image.getPixel(0, 1), sf::Color(0, 0, 0, 0));
    EXPECT_EQ(image.getPixel(1, 1), sf::Color(50, 100, 200, 128));
    EXPECT_EQ(imageFromBgra(nullptr, 4, 4).getSize(), sf::Vector2u(0, 0));
    EXPECT_EQ(imageFromBgra(pixels, 0, 2).getSize(), sf::Vector2u(0, 0));
}

// The window icon as the X server holds it: width, height, then ARGB pixels.
std::vector<unsigned long> windowIconProperty(const sf::Window& window) {
    Display* display = XOpenDisplay(nullptr);
    std::vector<unsigned long> values;
    if (display == nullptr) {
        return values;
    }
    const Atom icon = XInternAtom(display, "_NET_WM_ICON", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window.getSystemHandle(), icon, 0, 4, False, XA_CARDINAL, &type,
                           &format, &count, &remaining, &data) == Success &&
        data != nullptr) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
        XFree(data);
    }
    XCloseDisplay(display);
    return values;
}

TEST_F(LauncherTest, IconBecomesLogoAndWindowIconOnlyWhenATextureCanBeMade) {
    auto l = makeLauncher();
    ASSERT_TRUE(l->iconTexture.has_value());
    ASSERT_TRUE(l->iconSprite.has_value());
    EXPECT_EQ(l->iconSprite->getGlobalBounds(), sf::FloatRect(52, 38, 56, 56));
    EXPECT_FALSE(l->iconTexture->isSmooth());
    EXPECT_FALSE(l->iconTexture->isSrgb());
    const std::vector<unsigned long> property = windowIconProperty(l->window);
    ASSERT_GE(property.size(), 2u);
    EXPECT_EQ(property[0], 256u);
    EXPECT_EQ(property[1], 171u);

    // An image no texture can be made from: no logo (and the window icon is left alone).
    l->applyIcon(sf::Image());
    EXPECT_FALSE(l->iconTexture.has_value());
    EXPECT_FALSE(l->iconSprite.has_value());
    l->applyIcon(std::nullopt);
    EXPECT_FALSE(l->iconSprite.has_value());
    sf::Mouse::setPosition({5, 5}, l->window);
    l->prepareFrame(0);
    l->drawFrame();
    sf::Texture copy;
    ASSERT_TRUE(copy.create(580, 460));
    copy.update(l->window);
    // The frame's centre shows only the frame's faint fill over the header.
    EXPECT_TRUE(looksLike(copy.copyToImage(), 80, 66,
                          over({255, 250, 235, 28}, over({38, 58, 28, 235}, sky(66)))));

    // Any icon size shows as 56 x 56 at the same place.
    sf::Image square;
    square.create(32, 32, sf::Color::Red);
    l->applyIcon(square);
    l->buildLayout();
    ASSERT_TRUE(l->iconSprite.has_value());
    EXPECT_EQ(l->iconSprite->getGlobalBounds(), sf::FloatRect(52, 38, 56, 56));
}

TEST(FatalError, WithoutADisplayTheLauncherFailsCleanlyAndTheMessageGoesToStandardError) {
    ScopedEnv noDisplay("DISPLAY", nullptr);
    EXPECT_THROW(Launcher("http://127.0.0.1:9/orvanta-downloads/manifest.json"),
                 std::runtime_error);
    testing::internal::CaptureStderr();
    showFatalError("The disk is full.");
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_NE(written.find("Orvanta Launcher"), std::string::npos);
    EXPECT_NE(written.find("The disk is full."), std::string::npos);
}

TEST(FatalError, ProgramWithoutADisplayExitsWithOne) {
    TempDir home;
    const std::string command = std::string("env -u DISPLAY XDG_DATA_HOME='") + home.path() +
                                "' '" + ORVANTA_LAUNCHER_PROGRAM + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("no display could be opened"), std::string::npos) << output;
}

TEST(FatalError, MessageWindowIsDismissedWithEscape) {
    // A real key press into the real box, from outside the process. On a busy machine xdotool
    // sometimes reports a failed focus although the key arrived, or the key is lost: what counts
    // is that the box goes, so a second press follows for a box that is still there.
    FILE* presser = popen("xdotool search --sync --name '^Orvanta Launcher$' "
                          "windowfocus --sync key Escape >/dev/null 2>&1; sleep 2; "
                          "xdotool search --name '^Orvanta Launcher$' windowfocus key Escape "
                          ">/dev/null 2>&1; true",
                          "r");
    ASSERT_NE(presser, nullptr);
    showFatalError("Something unexpected happened while starting.");
    pclose(presser);
}

} // namespace
} // namespace orvanta::test
