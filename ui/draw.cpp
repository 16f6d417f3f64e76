#include "app/launcher.hpp"

namespace orvanta {

namespace {

// The shine only shows once the bar has visibly started.
constexpr float shineThreshold = 0.01f;

} // namespace

// Back to front; later widgets cover earlier ones and nothing is clipped.
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
    window.draw(changelogText);
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
