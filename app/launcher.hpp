#pragma once

#include "platform/folder_lock.hpp"
#include "update/launcher_update.hpp"
#include "update/manifest.hpp"

#include <SFML/Graphics.hpp>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvanta {

enum class LauncherPhase : std::uint32_t {
    Checking = 0,
    Downloading = 1,
    Ready = 2,
    Error = 3,
};

// Text colours for progress/success and for failure messages on the status line.
extern const sf::Color statusColor;
extern const sf::Color errorColor;

// The whole launcher: the window, everything drawn on it, the installation paths, the manifest of
// the latest check and the phase. Members are public so tests can inspect every widget.
class Launcher {
  public:
    // Checks the compiled-in manifest address with the compiled-in keys.
    Launcher();
    // Checks the given manifest address instead (tests point it at a loopback server), requiring
    // a signature by one of publicKeys when there are any.
    explicit Launcher(std::string manifestAddress, std::vector<std::string> publicKeys = {});
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    // The initial update check, then frames until the window is closed.
    void run();
    // One frame: elapsed time, pending events, hover, label, pulse, style, clear, draw, display.
    // A frame that would look exactly like the one on screen is not drawn again, except for a
    // periodic refresh.
    void runFrame();
    // The parts of a frame after event handling, for a given elapsed time in microseconds.
    void prepareFrame(std::int64_t elapsedMicroseconds);
    // Clears the window and draws the screen without presenting it.
    void drawFrame();
    void handleEvent(const sf::Event& event);
    // A left click at a window pixel: acts on the button by phase when the pixel hits it.
    void clickAt(sf::Vector2i pixel);
    // Whether a window pixel lies on the button as it is currently scaled.
    bool hitTest(sf::Vector2i pixel) const;

    // Status reporting: the only ways the update pipeline changes the screen.
    void setStatus(const std::string& text, const sf::Color& color);
    void setProgress(float fraction);
    void setChangelog(const std::string& text);
    void resetForRetry();
    void onDownloadProgress(std::uint64_t received, std::uint64_t total);

    // Update pipeline.
    void checkForUpdates();
    bool needsUpdate(const UpdateManifest& current) const;
    bool downloadAndInstall(const UpdateManifest& current);
    // Hands the screen to a new launcher build the manifest announces; true once it is up and
    // this launcher's window is closed.
    bool handOverToNewLauncher(const UpdateManifest& current);
    void playOrRecheck();

    // Screen.
    void loadFonts();
    void applyIcon(const std::optional<sf::Image>& image);
    void buildLayout();
    void updateButtonStyle();
    void centreButtonLabel();
    void drawScreen();

    sf::RenderWindow window;
    sf::Font regularFont;
    sf::Font boldFont;
    sf::Text titleText;
    sf::Text subtitleText;
    sf::Text statusText;
    sf::Text versionText;
    sf::Text whatsNewText;
    sf::Text changelogText;
    sf::Text buttonLabel;
    sf::Text footerText;
    sf::VertexArray skyGradient;
    sf::RectangleShape skyHaze;
    sf::RectangleShape groundRect;
    sf::RectangleShape headerPanel;
    sf::RectangleShape accentBar;
    sf::RectangleShape iconFrame;
    sf::RectangleShape card;
    sf::RectangleShape innerPanel;
    sf::RectangleShape statusDot;
    sf::RectangleShape progressTrack;
    sf::RectangleShape progressFill;
    sf::RectangleShape progressShine;
    sf::RectangleShape changelogBox;
    sf::RectangleShape footerBar;
    sf::RectangleShape buttonShadow;
    sf::RectangleShape button;
    sf::RectangleShape buttonShine;
    std::optional<sf::Texture> iconTexture;
    std::optional<sf::Sprite> iconSprite;
    std::string installDirectory;
    std::string exePath;
    std::string versionPath;
    std::string publishedAtPath; // the newest accepted publication time of a signed manifest
    std::string installedVersion;
    // Held from the first check on, so that one launcher at a time works on the folder.
    FolderLock folderLock;
    std::optional<UpdateManifest> manifest;
    LauncherPhase phase = LauncherPhase::Checking;
    std::string lastError;
    float progress = 0.0f;
    float pulsePhase = 0.0f;
    bool buttonHovered = false;
    std::string manifestAddress;
    std::vector<std::string> manifestKeys; // PEM public keys; empty: the manifest is not signed
    // This launcher's own build, when it may replace itself (the entry point sets it).
    std::optional<OwnLauncher> ownLauncher;
    sf::Clock frameClock;

    // What decides whether a frame would look different from the one last presented: frames
    // that would not are skipped (see runFrame).
    struct FrameLook {
        LauncherPhase phase = LauncherPhase::Checking;
        bool hovered = false;
        std::uint64_t revision = 0;
        std::array<int, 16> buttonEdges{};
        bool operator==(const FrameLook&) const = default;
    };
    FrameLook currentLook() const;
    std::uint64_t screenRevision = 0; // bumped by every status, progress or changelog change
    std::optional<FrameLook> presentedLook;
    sf::Clock presentClock;
    sf::Time refreshInterval = sf::milliseconds(250); // an unchanged screen is redrawn this often
    std::uint64_t presentedFrames = 0;
};

// Turns UTF-8 text into a display string; malformed sequences become U+FFFD.
sf::String utf8ToDisplay(const std::string& text);

} // namespace orvanta
