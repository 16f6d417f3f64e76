#include "app/launcher.hpp"

namespace orvanta {

namespace {

void place(sf::RectangleShape& shape, sf::Vector2f size, sf::Vector2f position, sf::Color fill) {
    shape.setSize(size);
    shape.setPosition(position);
    shape.setFillColor(fill);
}

void outline(sf::RectangleShape& shape, sf::Color color, float thickness) {
    shape.setOutlineColor(color);
    shape.setOutlineThickness(thickness);
}

void styleText(sf::Text& text, unsigned size, sf::Color fill, sf::Uint32 style,
               sf::Vector2f position) {
    text.setCharacterSize(size);
    text.setFillColor(fill);
    text.setStyle(style);
    text.setPosition(position);
}

} // namespace

void Launcher::buildLayout() {
    const sf::Vector2u windowSize = window.getSize();
    const float w = static_cast<float>(windowSize.x);
    const float h = static_cast<float>(windowSize.y);

    const sf::Color sky(118, 186, 228);
    const sf::Color meadow(72, 118, 62);
    skyGradient[0] = sf::Vertex({0.0f, 0.0f}, sky);
    skyGradient[1] = sf::Vertex({w, 0.0f}, sky);
    skyGradient[2] = sf::Vertex({0.0f, 0.34f * h}, meadow);
    skyGradient[3] = sf::Vertex({w, 0.34f * h}, meadow);

    place(skyHaze, {w, 0.34f * h}, {0.0f, 0.0f}, {118, 186, 228, 40});
    place(groundRect, {w, 0.66f * h}, {0.0f, 0.34f * h}, {92, 58, 34, 120});

    place(headerPanel, {w - 48.0f, 96.0f}, {24.0f, 18.0f}, {38, 58, 28, 235});
    outline(headerPanel, {245, 230, 180, 210}, 2.0f);
    const sf::Vector2f header = headerPanel.getPosition();
    place(accentBar, {4.0f, headerPanel.getSize().y - 8.0f}, {header.x + 8.0f, header.y + 4.0f},
          {255, 210, 70});
    place(iconFrame, {68.0f, 68.0f}, {header.x + 22.0f, header.y + 14.0f}, {255, 250, 235, 28});
    outline(iconFrame, {255, 240, 160, 80}, 1.0f);
    if (iconSprite && iconTexture) {
        // Whatever the icon's size, it shows as 56 x 56 centred in its frame.
        const sf::Vector2u textureSize = iconTexture->getSize();
        iconSprite->setScale(56.0f / static_cast<float>(textureSize.x),
                             56.0f / static_cast<float>(textureSize.y));
        iconSprite->setPosition(iconFrame.getPosition() + sf::Vector2f(6.0f, 6.0f));
    }

    titleText.setString("Orvanta");
    styleText(titleText, 30, {255, 240, 160}, sf::Text::Bold, {118.0f, 28.0f});
    subtitleText.setString("Online farming game");
    styleText(subtitleText, 14, {210, 235, 180}, sf::Text::Italic, {118.0f, 66.0f});

    place(card, {w - 48.0f, 210.0f}, {24.0f, 128.0f}, {245, 236, 210});
    outline(card, {92, 138, 58}, 2.0f);
    const sf::Vector2f cardAt = card.getPosition();
    place(innerPanel, card.getSize() - sf::Vector2f(16.0f, 16.0f), cardAt + sf::Vector2f(8, 8),
          {252, 247, 232});
    outline(innerPanel, {210, 220, 190}, 1.0f);
    const sf::Vector2f inner = innerPanel.getPosition();
    const float innerWidth = innerPanel.getSize().x;
    place(statusDot, {10.0f, 10.0f}, {inner.x + 14.0f, inner.y + 16.0f}, {255, 210, 70});
    styleText(statusText, 17, statusColor, sf::Text::Bold,
              {statusDot.getPosition().x + 18.0f, inner.y + 10.0f});

    styleText(versionText, 13, {96, 118, 72}, sf::Text::Regular,
              {inner.x + 14.0f, inner.y + 38.0f});
    versionText.setString(utf8ToDisplay("Installed v" + installedVersion));

    place(progressTrack, {innerWidth - 28.0f, 14.0f}, {inner.x + 14.0f, inner.y + 64.0f},
          {220, 210, 185});
    outline(progressTrack, {140, 170, 100}, 1.0f);
    const sf::Vector2f track = progressTrack.getPosition();
    place(progressFill, {0.0f, progressTrack.getSize().y - 2.0f}, {track.x + 1.0f, track.y + 1.0f},
          {110, 180, 60});
    const sf::Vector2f fill = progressFill.getPosition();
    place(progressShine, {0.0f, 3.0f}, {fill.x, fill.y + 1.0f}, {180, 230, 120, 180});
    place(changelogBox, {innerWidth - 28.0f, 78.0f}, {inner.x + 14.0f, inner.y + 88.0f},
          {255, 255, 250});
    outline(changelogBox, {200, 215, 180}, 1.0f);
    const sf::Vector2f box = changelogBox.getPosition();
    whatsNewText.setString("What's New");
    styleText(whatsNewText, 13, {92, 138, 58}, sf::Text::Bold, {box.x + 10.0f, box.y + 8.0f});
    styleText(changelogText, 12, {70, 88, 52}, sf::Text::Regular, {box.x + 10.0f, box.y + 28.0f});

    place(footerBar, {w, 46.0f}, {0.0f, h - 46.0f}, {28, 42, 22, 230});
    footerText.setString("Updates install automatically  |  Play when ready");
    styleText(footerText, 12, {190, 210, 165}, sf::Text::Regular, {24.0f, h - 30.0f});

    place(buttonShadow, {220.0f, 52.0f}, {w / 2.0f + 2.0f, h - 78.0f + 3.0f}, {0, 0, 0, 70});
    buttonShadow.setOrigin(110.0f, 26.0f);
    button.setSize({220.0f, 52.0f});
    button.setOrigin(110.0f, 26.0f);
    button.setPosition(w / 2.0f, h - 78.0f);
    const sf::Vector2f buttonAt = button.getPosition();
    place(buttonShine, {216.0f, 16.0f}, {buttonAt.x, buttonAt.y - 12.0f}, {255, 255, 255, 35});
    buttonShine.setOrigin(108.0f, 8.0f);

    buttonLabel.setString("Play");
    buttonLabel.setCharacterSize(24);
    buttonLabel.setFillColor({255, 250, 230});
    buttonLabel.setStyle(sf::Text::Bold);
    centreButtonLabel();

    updateButtonStyle();
}

// The label's origin is the centre of its bounds, so its position is the button's centre.
void Launcher::centreButtonLabel() {
    const sf::FloatRect bounds = buttonLabel.getLocalBounds();
    buttonLabel.setOrigin(bounds.left + bounds.width * 0.5f, bounds.top + bounds.height * 0.5f);
    buttonLabel.setPosition(button.getPosition());
}

void Launcher::updateButtonStyle() {
    sf::Color fill;
    if (phase == LauncherPhase::Error) {
        fill = buttonHovered ? sf::Color(195, 110, 58) : sf::Color(170, 92, 48);
    } else {
        fill = buttonHovered ? sf::Color(118, 185, 62) : sf::Color(92, 150, 48);
    }
    button.setFillColor(fill);
    button.setOutlineColor({245, 230, 180, 220});
    button.setOutlineThickness(2.0f);
}

} // namespace orvanta
