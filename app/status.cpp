#include "app/launcher.hpp"
#include "app/text_wrap.hpp"

#include <cmath>

namespace orvanta {

const sf::Color statusColor(52, 78, 36);
const sf::Color errorColor(170, 55, 40);

namespace {

constexpr std::size_t changelogWidth = 62;
// More lines and characters than the window can ever show below the changelog's first line.
constexpr std::size_t changelogVisibleLines = 40;
constexpr std::size_t changelogVisibleCharacters = 256;
constexpr sf::Uint32 replacementCharacter = 0xFFFD;

sf::Color dotColorFor(LauncherPhase phase) {
    switch (phase) {
    case LauncherPhase::Error:
        return {235, 95, 75};
    case LauncherPhase::Ready:
        return {110, 200, 70};
    case LauncherPhase::Checking:
    case LauncherPhase::Downloading:
        break;
    }
    return {255, 210, 70};
}

// Decodes one UTF-8 sequence starting at text[i]; returns the code point and advances i. A
// malformed, overlong, surrogate or out-of-range sequence yields U+FFFD and skips one byte.
sf::Uint32 decodeOne(const std::string& text, std::size_t& i) {
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned lead = byte(i);
    std::size_t length = 0;
    sf::Uint32 value = 0;
    sf::Uint32 minimum = 0;
    if (lead < 0x80u) {
        ++i;
        return lead;
    } else if (lead >= 0xC2u && lead <= 0xDFu) {
        length = 2;
        value = lead & 0x1Fu;
        minimum = 0x80;
    } else if (lead >= 0xE0u && lead <= 0xEFu) {
        length = 3;
        value = lead & 0x0Fu;
        minimum = 0x800;
    } else if (lead >= 0xF0u && lead <= 0xF4u) {
        length = 4;
        value = lead & 0x07u;
        minimum = 0x10000;
    } else {
        ++i;
        return replacementCharacter;
    }
    if (i + length > text.size()) {
        ++i;
        return replacementCharacter;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned next = byte(i + k);
        if ((next & 0xC0u) != 0x80u) {
            ++i;
            return replacementCharacter;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFFu || (value >= 0xD800u && value <= 0xDFFFu)) {
        ++i;
        return replacementCharacter;
    }
    i += length;
    return value;
}

} // namespace

sf::String utf8ToDisplay(const std::string& text) {
    std::basic_string<sf::Uint32> decoded;
    decoded.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        decoded.push_back(decodeOne(text, i));
    }
    return sf::String(decoded);
}

void Launcher::setStatus(const std::string& text, const sf::Color& color) {
    statusText.setString(utf8ToDisplay(text));
    statusText.setFillColor(color);
    // The dot shows the phase as it is at the time of the call.
    statusDot.setFillColor(dotColorFor(phase));
    ++screenRevision;
}

void Launcher::setProgress(float fraction) {
    if (std::isnan(fraction) || fraction < 0.0f) {
        progress = 0.0f;
    } else if (fraction > 1.0f) {
        progress = 1.0f;
    } else {
        progress = fraction;
    }
    const float width = (progressTrack.getSize().x - 2.0f) * progress;
    progressFill.setSize({width, progressFill.getSize().y});
    progressShine.setSize({width, progressShine.getSize().y});
    ++screenRevision;
}

void Launcher::setChangelog(const std::string& text) {
    const std::string wrapped = wrapText(text, changelogWidth);
    changelogText.setString(
        utf8ToDisplay(keepVisiblePart(wrapped, changelogVisibleLines, changelogVisibleCharacters)));
    ++screenRevision;
}

void Launcher::resetForRetry() {
    phase = LauncherPhase::Checking;
    setStatus("Checking for updates...", statusColor);
    setProgress(0.0f);
}

void Launcher::onDownloadProgress(std::uint64_t received, std::uint64_t total) {
    if (total == 0) {
        return; // the server sent no length: the bar stays where it is
    }
    setProgress(static_cast<float>(received) / static_cast<float>(total));
}

} // namespace orvanta
