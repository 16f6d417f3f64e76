#include "app/launcher.hpp"

namespace orvanta {

namespace {

// The shine only shows once the bar has visibly started.
constexpr float shineThreshold = 0.01f;

// Draws text through a view that covers only the box's pixels, so whatever does not fit ends at
// the box's edge instead of running over the widgets below it.
void drawInside(sf::RenderWindow& window, const sf::RectangleShape& box, const sf::Text& text) {
    const sf::View screen = window.getView();
    const sf::FloatRect area = box.getTransform().transformRect({{0.0f, 0.0f}, box.getSize()});
    const sf::Vector2i topLeft = window.mapCoordsToPixel({area.left, area.top}, screen);
    const sf::Vector2i bottomRight =
        window.mapCoordsToPixel({area.left + area.width, area.top + area.height}, screen);
    const sf::Vector2f windowSize(window.getSize());
    if (bottomRight.x <= topLeft.x || bottomRight.y <= topLeft.y) {
        return;
    }
    // The view shows exactly the world the box's pixels show now, so the text stays in place.
    const sf::Vector2f from = window.mapPixelToCoords(topLeft, screen);
    const sf::Vector2f to = window.mapPixelToCoords(bottomRight, screen);
    sf::View clipped(sf::FloatRect(from, to - from));
    clipped.setViewport({static_cast<float>(topLeft.x) / windowSize.x,
                         static_cast<float>(topLeft.y) / windowSize.y,
                         static_cast<float>(bottomRight.x - topLeft.x) / windowSize.x,
                         static_cast<float>(bottomRight.y - topLeft.y) / windowSize.y});
    window.setView(clipped);
    window.draw(text);
    window.setView(screen);
}

} // namespace

// Back to front; later widgets cover earlier ones. Only the changelog is clipped, to its box.
void Launcher::drawScreen() {
    window.draw(skyGradient);
    window.draw(groundRect);
    window.draw(skyHaze);
    window.draw(headerPanel);
    window.draw(accentBar);
    window.draw(iconFrame);
    if (iconSprite) {
        window.draw(*iconSprite);
    }
    window.draw(titleText);
    window.draw(subtitleText);
    window.draw(card);
    window.draw(innerPanel);
    window.draw(statusDot);
    window.draw(statusText);
    window.draw(versionText);
    window.draw(progressTrack);
    window.draw(progressFill);
    if (progress > shineThreshold) {
        window.draw(progressShine);
    }
    window.draw(changelogBox);
    window.draw(whatsNewText);
    drawInside(window, changelogBox, changelogText);
    window.draw(footerBar);
    window.draw(footerText);
    if (phase == LauncherPhase::Ready || phase == LauncherPhase::Error) {
        window.draw(buttonShadow);
        window.draw(button);
        window.draw(buttonShine);
        buttonLabel.setPosition(button.getPosition());
        window.draw(buttonLabel);
    }
}

} // namespace orvanta
