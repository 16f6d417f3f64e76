// The screen as the player sees it: frames are drawn into the real window under Xvfb and read
// back pixel by pixel.
#include "launcher_fixture.hpp"

#include <numbers>

namespace orvanta::test {
namespace {

class ScreenTest : public LauncherTest {
  protected:
    // Draws one frame the way the loop does (without presenting it) and reads it back.
    sf::Image frame(Launcher& l) {
        l.prepareFrame(0);
        l.drawFrame();
        sf::Texture copy;
        EXPECT_TRUE(copy.create(580, 460));
        copy.update(l.window);
        return copy.copyToImage();
    }

    std::unique_ptr<Launcher> readyLauncher() {
        serve("1.0", "#!/bin/sh\nexit 0\n");
        auto l = makeLauncher();
        l->checkForUpdates();
        EXPECT_EQ(l->phase, LauncherPhase::Ready);
        keepMouseAway(*l);
        return l;
    }

    std::unique_ptr<Launcher> errorLauncher() {
        channel.manifestStatus = 500;
        auto l = makeLauncher();
        l->checkForUpdates();
        EXPECT_EQ(l->phase, LauncherPhase::Error);
        keepMouseAway(*l);
        return l;
    }

    static void keepMouseAway(Launcher& l) { sf::Mouse::setPosition({5, 5}, l.window); }
};

TEST_F(ScreenTest, ReadyFrameShowsEveryPanelInItsColours) {
    auto l = readyLauncher();
    const sf::Image f = frame(*l);
    EXPECT_TRUE(looksLike(f, 2, 1, sky(1)));
    EXPECT_TRUE(looksLike(f, 10, 140, sky(140)));
    EXPECT_TRUE(looksLike(f, 10, 350, ground()));
    EXPECT_TRUE(looksLike(f, 500, 100, over({38, 58, 28, 235}, sky(100)))); // header
    EXPECT_TRUE(looksLike(f, 23, 60, over({245, 230, 180, 210}, sky(60)))); // its outline
    EXPECT_TRUE(looksLike(f, 33, 60, {255, 210, 70}));                      // accent bar
    EXPECT_TRUE(looksLike(f, 27, 200, {245, 236, 210}));                    // card
    EXPECT_TRUE(looksLike(f, 23, 200, {92, 138, 58}));                      // card outline
    EXPECT_TRUE(looksLike(f, 500, 185, {252, 247, 232}));                   // inner panel
    EXPECT_TRUE(looksLike(f, 51, 157, {110, 200, 70}));                     // Ready dot
    EXPECT_TRUE(looksLike(f, 500, 290, {255, 255, 250}));                   // changelog box
    EXPECT_TRUE(looksLike(f, 570, 450, over({28, 42, 22, 230}, ground()))); // footer
    // The button, its shine, outline and shadow.
    EXPECT_TRUE(looksLike(f, 190, 400, {92, 150, 48}));
    EXPECT_TRUE(looksLike(f, 190, 370, over({255, 255, 255, 35}, {92, 150, 48})));
    EXPECT_TRUE(looksLike(f, 300, 410, over({0, 0, 0, 70}, ground())));
    // The logo: the sun of the emblem sits in the frame's upper right.
    EXPECT_TRUE(looksLike(f, 97, 53, {255, 210, 70}));

    sf::Mouse::setPosition(buttonCentre(), l->window);
    const sf::Image hovered = frame(*l);
    EXPECT_TRUE(l->buttonHovered);
    EXPECT_TRUE(looksLike(hovered, 190, 400, {118, 185, 62}));
}

TEST_F(ScreenTest, ErrorFrameShowsRetryButton) {
    auto l = errorLauncher();
    const sf::Image f = frame(*l);
    EXPECT_EQ(l->buttonLabel.getString().toAnsiString(), "Retry");
    const sf::FloatRect label = l->buttonLabel.getGlobalBounds();
    EXPECT_NEAR(label.left + label.width / 2.0f, 290.0f, 0.5f);
    EXPECT_NEAR(label.top + label.height / 2.0f, 382.0f, 0.5f);
    EXPECT_TRUE(looksLike(f, 190, 400, {170, 92, 48}));
    EXPECT_TRUE(looksLike(f, 51, 157, {235, 95, 75}));
    EXPECT_TRUE(looksLike(f, 179, 380, over({245, 230, 180, 220}, ground())));
    EXPECT_TRUE(looksLike(f, 100, 207, {220, 210, 185})); // empty bar

    sf::Mouse::setPosition({190, 400}, l->window);
    EXPECT_TRUE(looksLike(frame(*l), 190, 400, {195, 110, 58}));
    // No pulse outside Ready, however much time passes.
    l->prepareFrame(5'000'000);
    EXPECT_EQ(l->button.getScale(), sf::Vector2f(1.0f, 1.0f));
    EXPECT_EQ(l->pulsePhase, 0.0f);
}

TEST_F(ScreenTest, CheckingStateDrawsNoButton) {
    auto l = makeLauncher();
    keepMouseAway(*l);
    const sf::Image f = frame(*l);
    EXPECT_FALSE(l->buttonHovered);
    EXPECT_TRUE(looksLike(f, 190, 400, ground()));
    EXPECT_TRUE(looksLike(f, 51, 157, {255, 210, 70}));
}

TEST_F(ScreenTest, ProgressFillAndShine) {
    auto l = errorLauncher();
    const sf::Color track(220, 210, 185);
    const sf::Color fill(110, 180, 60);
    const sf::Color shine = over({180, 230, 120, 180}, fill);

    l->setProgress(0.0f);
    sf::Image f = frame(*l);
    EXPECT_TRUE(looksLike(f, 47, 207, track));
    EXPECT_TRUE(looksLike(f, 47, 203, track));
    EXPECT_TRUE(looksLike(f, 45, 207, {140, 170, 100})); // track outline

    l->setProgress(0.5f); // 243 pixels from x = 47
    f = frame(*l);
    EXPECT_TRUE(looksLike(f, 289, 207, fill));
    EXPECT_TRUE(looksLike(f, 290, 207, track));
    EXPECT_TRUE(looksLike(f, 289, 203, shine));
    EXPECT_TRUE(looksLike(f, 289, 206, fill)); // the shine is three rows high
    EXPECT_TRUE(looksLike(f, 289, 201, fill));

    l->setProgress(1.0f); // 486 pixels: one pixel of track left at each end
    f = frame(*l);
    EXPECT_TRUE(looksLike(f, 47, 207, fill));
    EXPECT_TRUE(looksLike(f, 532, 207, fill));
    EXPECT_TRUE(looksLike(f, 533, 207, track));
    EXPECT_TRUE(looksLike(f, 46, 207, track));

    l->setProgress(0.01f); // the shine waits until the bar is past 1 %
    EXPECT_TRUE(looksLike(frame(*l), 48, 203, fill));
    l->setProgress(0.02f);
    EXPECT_TRUE(looksLike(frame(*l), 48, 203, shine));
}

TEST_F(ScreenTest, ALongChangelogEndsAtTheEdgeOfItsBox) {
    auto l = errorLauncher();
    l->setChangelog("One line.");
    const sf::Image oneLine = frame(*l);
    std::string tall;
    for (int i = 0; i < 30; ++i) {
        tall += "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\n";
    }
    l->setChangelog(tall);
    const sf::Image f = frame(*l);
    // Every pixel the longer text changes lies inside the box (46..533 x 224..301), and the text
    // does fill the box down to its last rows.
    int outside = 0;
    int nearTheBottom = 0;
    for (unsigned y = 0; y < 460; ++y) {
        for (unsigned x = 0; x < 580; ++x) {
            if (f.getPixel(x, y) == oneLine.getPixel(x, y)) {
                continue;
            }
            const bool inBox = x >= 46 && x < 534 && y >= 224 && y < 302;
            outside += inBox ? 0 : 1;
            nearTheBottom += inBox && y >= 290 ? 1 : 0;
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(nearTheBottom, 0);
}

TEST_F(ScreenTest, HitTestEdgesFollowTheButtonAndItsPulse) {
    auto l = errorLauncher();
    l->prepareFrame(0);
    // 220 x 52 centred on (290, 382) with its 2-pixel outline: x 178..401, y 354..409.
    EXPECT_TRUE(l->hitTest({178, 354}));
    EXPECT_TRUE(l->hitTest({401, 409}));
    EXPECT_FALSE(l->hitTest({177, 382}));
    EXPECT_FALSE(l->hitTest({290, 353}));
    EXPECT_FALSE(l->hitTest({402, 382}));
    EXPECT_FALSE(l->hitTest({290, 410})); // shadow only

    // In Ready the pulse swells the button by up to 1.5 % and the hit area with it.
    l->phase = LauncherPhase::Ready;
    l->pulsePhase = 1.5f * std::numbers::pi_v<float>; // sin = -1: scale 1
    l->prepareFrame(0);
    EXPECT_FLOAT_EQ(l->button.getScale().x, 1.0f);
    EXPECT_TRUE(l->hitTest({178, 354}));
    EXPECT_FALSE(l->hitTest({177, 382}));
    l->prepareFrame(1'308'997); // half a period later: sin = 1, scale 1.015
    EXPECT_NEAR(l->button.getScale().x, 1.015f, 1e-5f);
    EXPECT_EQ(l->buttonShadow.getScale(), l->button.getScale());
    EXPECT_NEAR(l->buttonShine.getScale().x, 1.015f, 1e-5f);
    EXPECT_EQ(l->buttonShine.getScale().y, 1.0f);
    EXPECT_TRUE(l->hitTest({177, 382}));
    EXPECT_TRUE(l->hitTest({403, 382}));
    EXPECT_FALSE(l->hitTest({176, 382}));
    EXPECT_FALSE(l->hitTest({404, 382}));
}

TEST_F(ScreenTest, FramesThatWouldNotChangeAreNotPresentedAgain) {
    auto l = errorLauncher();
    l->refreshInterval = sf::seconds(3600);
    l->runFrame();
    const std::uint64_t first = l->presentedFrames;
    EXPECT_EQ(first, 1u);
    l->runFrame();
    l->runFrame();
    EXPECT_EQ(l->presentedFrames, first);
    l->setChangelog("Something new");
    l->runFrame();
    EXPECT_EQ(l->presentedFrames, first + 1);
    sf::Mouse::setPosition(buttonCentre(), l->window);
    l->runFrame();
    EXPECT_TRUE(l->buttonHovered);
    EXPECT_EQ(l->presentedFrames, first + 2);

    // In Ready the pulse is presented whenever it moves an edge of the button by a pixel.
    l->phase = LauncherPhase::Ready;
    l->pulsePhase = 1.5f * std::numbers::pi_v<float>;
    l->runFrame();
    const std::uint64_t atRest = l->presentedFrames;
    l->pulsePhase += 0.001f; // a sliver of the swing: the same pixels
    l->runFrame();
    EXPECT_EQ(l->presentedFrames, atRest);
    l->pulsePhase = 0.5f * std::numbers::pi_v<float>; // fully swollen
    l->runFrame();
    EXPECT_EQ(l->presentedFrames, atRest + 1);
}

TEST_F(ScreenTest, LayoutAtTheFixedWindowSize) {
    auto l = makeLauncher();
    struct Box {
        const sf::RectangleShape& shape;
        sf::FloatRect rect; // position and size
    };
    const Box boxes[] = {
        {l->skyHaze, {0, 0, 580, 156.4f}},      {l->groundRect, {0, 156.4f, 580, 303.6f}},
        {l->headerPanel, {24, 18, 532, 96}},    {l->accentBar, {32, 22, 4, 88}},
        {l->iconFrame, {46, 32, 68, 68}},       {l->card, {24, 128, 532, 210}},
        {l->innerPanel, {32, 136, 516, 194}},   {l->statusDot, {46, 152, 10, 10}},
        {l->progressTrack, {46, 200, 488, 14}}, {l->progressFill, {47, 201, 0, 12}},
        {l->progressShine, {47, 202, 0, 3}},    {l->changelogBox, {46, 224, 488, 78}},
        {l->footerBar, {0, 414, 580, 46}},      {l->buttonShadow, {292, 385, 220, 52}},
        {l->button, {290, 382, 220, 52}},       {l->buttonShine, {290, 370, 216, 16}},
    };
    for (const Box& box : boxes) {
        EXPECT_NEAR(box.shape.getPosition().x, box.rect.left, 1e-3);
        EXPECT_NEAR(box.shape.getPosition().y, box.rect.top, 1e-3);
        EXPECT_NEAR(box.shape.getSize().x, box.rect.width, 1e-3);
        EXPECT_NEAR(box.shape.getSize().y, box.rect.height, 1e-3);
    }
    const std::pair<const sf::Text&, sf::Vector2f> texts[] = {
        {l->titleText, {118, 28}},   {l->subtitleText, {118, 66}}, {l->statusText, {64, 146}},
        {l->versionText, {46, 174}}, {l->whatsNewText, {56, 232}}, {l->changelogText, {56, 252}},
        {l->footerText, {24, 430}},
    };
    for (const auto& [text, at] : texts) {
        EXPECT_EQ(text.getPosition(), at);
    }
    EXPECT_EQ(l->footerText.getString().toAnsiString(),
              "Updates install automatically  |  Play when ready");
    EXPECT_EQ(l->statusText.getStyle(), sf::Text::Bold);
    EXPECT_EQ(l->subtitleText.getStyle(), sf::Text::Italic);
    EXPECT_EQ(l->changelogText.getCharacterSize(), 12u);
}

} // namespace
} // namespace orvanta::test
