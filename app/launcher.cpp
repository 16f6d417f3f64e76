#include "app/launcher.hpp"

#include "app/display.hpp"
#include "app/window_icon.hpp"
#include "platform/paths.hpp"
#include "update/game_start.hpp"
#include "update/install.hpp"
#include "update/signed_manifest.hpp"

#include <cmath>
#include <filesystem>
#include <system_error>

namespace orvanta {

namespace {

constexpr unsigned windowWidth = 580;
constexpr unsigned windowHeight = 460;
const sf::Color clearColor(36, 52, 28);
// Radians per second of the Ready button's pulse, and how far it swells.
constexpr float pulseSpeed = 2.4f;
constexpr float pulseDepth = 0.015f;
// Where vertical synchronisation does not block in display() (Xvfb, some drivers) the loop keeps
// to this frame time so an idle launcher does not spin a core.
const sf::Time minimumFrameTime = sf::microseconds(16667);

// The windowing library aborts when no display can be reached, so the test has to run before
// the window (the first member) is constructed.
sf::VideoMode checkedVideoMode() {
    requireDisplay();
    return sf::VideoMode(windowWidth, windowHeight, 32);
}

// Pixel-to-world mapping goes through float arithmetic; snap results that are within rounding
// noise of a whole unit so the button's edges stay exact.
float snapToWhole(float value) {
    const float rounded = std::round(value);
    return std::fabs(value - rounded) < 1e-3f ? rounded : value;
}

// The pixel rows and columns a rectangle covers: a pixel is covered when its centre lies inside.
void pixelEdges(const sf::FloatRect& rect, int* out) {
    const auto cover = [](float edge) { return static_cast<int>(std::ceil(edge - 0.5f)); };
    out[0] = cover(rect.left);
    out[1] = cover(rect.top);
    out[2] = cover(rect.left + rect.width);
    out[3] = cover(rect.top + rect.height);
}

} // namespace

Launcher::Launcher() : Launcher(manifestUrl, manifestPublicKeys) {}

Launcher::Launcher(std::string address, std::vector<std::string> publicKeys)
    : window(checkedVideoMode(), "Orvanta", sf::Style::Close), titleText("", boldFont, 30),
      subtitleText("", regularFont, 30), statusText("", regularFont, 30),
      versionText("", regularFont, 30), whatsNewText("", regularFont, 30),
      changelogText("", regularFont, 30), buttonLabel("", boldFont, 30),
      footerText("", regularFont, 30), skyGradient(sf::TriangleStrip, 4),
      manifestAddress(std::move(address)), manifestKeys(std::move(publicKeys)) {
    window.setVerticalSyncEnabled(true);

    installDirectory = resolveInstallDirectory();
    exePath = joinPath(installDirectory, gameExecutableName);
    versionPath = joinPath(installDirectory, versionFileName);
    publishedAtPath = joinPath(installDirectory, publishedAtFileName);
    std::error_code ignored;
    std::filesystem::create_directories(nativePath(installDirectory), ignored);
    installedVersion = readTrimmedFile(versionPath);
    if (installedVersion.empty()) {
        installedVersion = "0.0.0";
    }

    loadFonts();
    applyIcon(loadWindowIcon());
    buildLayout();

    setStatus("Checking for updates...", statusColor);
    setProgress(0.0f);
    setChangelog("Waiting for update info...");
}

void Launcher::applyIcon(const std::optional<sf::Image>& image) {
    ++screenRevision;
    iconSprite.reset();
    iconTexture.reset();
    if (!image) {
        return;
    }
    iconTexture.emplace();
    if (!iconTexture->loadFromImage(*image)) {
        iconTexture.reset();
        return;
    }
    iconSprite.emplace(*iconTexture);
    const sf::Vector2u size = image->getSize();
    window.setIcon(size.x, size.y, image->getPixelsPtr());
}

void Launcher::run() {
    checkForUpdates();
    frameClock.restart();
    while (window.isOpen()) {
        runFrame();
        const sf::Time used = frameClock.getElapsedTime();
        if (used < minimumFrameTime) {
            sf::sleep(minimumFrameTime - used);
        }
    }
}

void Launcher::runFrame() {
    const std::int64_t elapsed = frameClock.restart().asMicroseconds();
    sf::Event event;
    bool handledEvents = false;
    while (window.pollEvent(event)) {
        handleEvent(event);
        handledEvents = true;
    }
    if (!window.isOpen()) {
        return;
    }
    prepareFrame(elapsed);

    // The pulse moves the button by well under a pixel per frame, so most frames would repeat the
    // picture already on screen; a software-rendered display pays dearly for each one.
    const FrameLook look = currentLook();
    if (!handledEvents && presentedLook == look &&
        presentClock.getElapsedTime() < refreshInterval) {
        return;
    }
    drawFrame();
    window.display();
    presentedLook = look;
    presentClock.restart();
    ++presentedFrames;
}

Launcher::FrameLook Launcher::currentLook() const {
    FrameLook look;
    look.phase = phase;
    look.hovered = buttonHovered;
    look.revision = screenRevision;
    const sf::Vector2f size = button.getSize();
    pixelEdges(button.getGlobalBounds(), &look.buttonEdges[0]);
    pixelEdges(button.getTransform().transformRect({0.0f, 0.0f, size.x, size.y}),
               &look.buttonEdges[4]);
    pixelEdges(buttonShadow.getGlobalBounds(), &look.buttonEdges[8]);
    pixelEdges(buttonShine.getGlobalBounds(), &look.buttonEdges[12]);
    return look;
}

void Launcher::prepareFrame(std::int64_t elapsedMicroseconds) {
    const bool buttonShown = phase == LauncherPhase::Ready || phase == LauncherPhase::Error;
    buttonHovered = buttonShown && hitTest(sf::Mouse::getPosition(window));

    buttonLabel.setString(phase == LauncherPhase::Error ? "Retry" : "Play");
    centreButtonLabel();

    if (phase == LauncherPhase::Ready) {
        pulsePhase += static_cast<float>(elapsedMicroseconds) / 1000000.0f * pulseSpeed;
        const float k = 1.0f + pulseDepth * (0.5f + 0.5f * std::sin(pulsePhase));
        button.setScale(k, k);
        buttonShadow.setScale(button.getScale());
        buttonShine.setScale(k, 1.0f);
    } else {
        button.setScale(1.0f, 1.0f);
        buttonShadow.setScale(1.0f, 1.0f);
        buttonShine.setScale(1.0f, 1.0f);
    }
    updateButtonStyle();
}

void Launcher::drawFrame() {
    window.clear(clearColor);
    drawScreen();
}

void Launcher::handleEvent(const sf::Event& event) {
    switch (event.type) {
    case sf::Event::Closed:
        window.close();
        break;
    case sf::Event::Resized:
        window.setView(sf::View(sf::FloatRect(0.0f, 0.0f, static_cast<float>(event.size.width),
                                              static_cast<float>(event.size.height))));
        break;
    case sf::Event::MouseButtonPressed:
        if (event.mouseButton.button == sf::Mouse::Left) {
            clickAt({event.mouseButton.x, event.mouseButton.y});
        }
        break;
    default:
        break;
    }
}

bool Launcher::hitTest(sf::Vector2i pixel) const {
    const sf::Vector2f world = window.mapPixelToCoords(pixel);
    const float x = snapToWhole(world.x);
    const float y = snapToWhole(world.y);
    const sf::FloatRect bounds = button.getGlobalBounds();
    return x >= bounds.left && x < bounds.left + bounds.width && y >= bounds.top &&
           y < bounds.top + bounds.height;
}

void Launcher::clickAt(sf::Vector2i pixel) {
    if (!hitTest(pixel)) {
        return;
    }
    switch (phase) {
    case LauncherPhase::Error:
        resetForRetry();
        checkForUpdates();
        break;
    case LauncherPhase::Ready:
        playOrRecheck();
        break;
    case LauncherPhase::Checking:
    case LauncherPhase::Downloading:
        break;
    }
}

void Launcher::playOrRecheck() {
    // Look at the installed game once more: it may have been deleted or changed since the check.
    if (!manifest || needsUpdate(*manifest)) {
        resetForRetry();
        checkForUpdates();
        return;
    }
    if (launchGame(exePath)) {
        return;
    }
    // Shown while still Ready, so the dot keeps the Ready colour beside the message.
    setStatus("Could not start the game.", errorColor);
    phase = LauncherPhase::Error;
}

} // namespace orvanta
