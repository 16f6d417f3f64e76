// The Windows launcher's own assets: the icon read back from resource 101 of this program (which
// carries the launcher's resources) and the fonts tried after the listed five.
#include "app/window_icon.hpp"
#include "ui/fonts.hpp"

#include <array>
#include <gtest/gtest.h>

namespace orvanta {
namespace {

// Alpha-weighted mean red, green and blue, and the mean alpha, of the top or bottom half. The
// system may stretch the icon to the size asked for; these stay nearly the same when it does.
std::array<double, 4> halfMeans(const sf::Image& image, bool top) {
    const sf::Vector2u size = image.getSize();
    const unsigned first = top ? 0 : size.y / 2;
    const unsigned last = top ? size.y / 2 : size.y;
    std::array<double, 4> sums{};
    for (unsigned y = first; y < last; ++y) {
        for (unsigned x = 0; x < size.x; ++x) {
            const sf::Color c = image.getPixel(x, y);
            sums[0] += static_cast<double>(c.r) * c.a;
            sums[1] += static_cast<double>(c.g) * c.a;
            sums[2] += static_cast<double>(c.b) * c.a;
            sums[3] += c.a;
        }
    }
    const double pixels = static_cast<double>(size.x) * (last - first);
    return {sums[0] / sums[3], sums[1] / sums[3], sums[2] / sums[3], sums[3] / pixels};
}

TEST(WindowIcon, IsResource101InItsColoursWithAlphaTopRowFirst) {
    const std::optional<sf::Image> icon = loadWindowIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->getSize().x, 256u);
    sf::Image art;
    ASSERT_TRUE(art.loadFromFile(ORVANTA_SOURCE_DIR "/assets/icon/orvanta-256x171.png"));
    for (const bool top : {true, false}) {
        const std::array<double, 4> got = halfMeans(*icon, top);
        const std::array<double, 4> want = halfMeans(art, top);
        for (std::size_t channel = 0; channel < 4; ++channel) {
            EXPECT_NEAR(got[channel], want[channel], 4.0) << (top ? "top" : "bottom") << " half";
        }
    }
}

TEST(Fonts, WindowsTriesTheFiveThenTheFontsFolderBesideTheProgram) {
    const std::vector<std::string> expected = {
        "../../assets/fonts/Nunito-Regular.ttf",
        "../assets/fonts/Nunito-Regular.ttf",
        "assets/fonts/Nunito-Regular.ttf",
        "C:/Windows/Fonts/segoeui.ttf",
        "C:/Windows/Fonts/arial.ttf",
        "C:\\Users\\Jos\xC3\xA9\\Orvanta Launcher\\fonts\\Nunito-Regular.ttf",
    };
    EXPECT_EQ(fontCandidates(FontFace::Regular, "C:\\Users\\Jos\xC3\xA9\\Orvanta Launcher"),
              expected);
    EXPECT_EQ(fontCandidates(FontFace::Bold, "").size(), 5u);
}

} // namespace
} // namespace orvanta
