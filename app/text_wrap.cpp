#include "app/text_wrap.hpp"

namespace orvanta {

std::string wrapText(const std::string& text, std::size_t width) {
    if (text.empty() || width == 0) {
        return text;
    }
    std::string result;
    result.reserve(text.size());
    std::size_t column = 0;
    for (const char byte : text) {
        if (byte == '\n') {
            result += byte;
            column = 0;
            continue;
        }
        result += byte;
        const bool continuation = (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
        if (continuation) {
            continue;
        }
        ++column;
        if (column >= width && byte == ' ') {
            result.back() = '\n';
            column = 0;
        }
    }
    return result;
}

std::string keepVisiblePart(const std::string& text, std::size_t maxLines,
                            std::size_t maxCharacters) {
    std::string result;
    std::size_t lines = 1;
    std::size_t column = 0;
    for (const char byte : text) {
        if (byte == '\n') {
            if (lines == maxLines) {
                break;
            }
            ++lines;
            column = 0;
            result += byte;
            continue;
        }
        const bool continuation = (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
        if (!continuation) {
            ++column;
        }
        if (column <= maxCharacters) {
            result += byte;
        }
    }
    return result;
}

} // namespace orvanta
