// Changelog wrapping: the first byte picks the width, the rest is the text.
#include "app/text_wrap.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t width = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string wrapped = orvanta::wrapText(text, width);

    // Only spaces may turn into line feeds; nothing is added, dropped or moved.
    require(wrapped.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        require(wrapped[i] == text[i] || (text[i] == ' ' && wrapped[i] == '\n'));
    }
    if (text.empty() || width == 0) {
        require(wrapped == text);
        return 0;
    }

    // A line ends at the first space that reaches the width, and never earlier.
    std::size_t column = 0;
    for (std::size_t i = 0; i < wrapped.size(); ++i) {
        if (wrapped[i] == '\n') {
            if (text[i] == ' ') {
                require(column + 1 >= width);
            }
            column = 0;
            continue;
        }
        if (isContinuation(wrapped[i])) {
            continue;
        }
        ++column;
        require(!(wrapped[i] == ' ' && column >= width));
    }

    // Wrapped text is already wrapped.
    require(orvanta::wrapText(wrapped, width) == wrapped);
    return 0;
}
