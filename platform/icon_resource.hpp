#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvanta {

// 32-bit pixels in the platform's order: blue, green, red and a fourth (alpha) byte each, rows
// from the top.
struct BgraPixels {
    unsigned width = 0;
    unsigned height = 0;
    std::vector<std::uint8_t> bytes;
};

// The icon group `id` of the running executable's resources, loaded at 256 x 256 pixels, else at
// 64 x 64 (the platform picks the stored image and scales it), copied out of its colour bitmap
// (its mask bitmap when it has none). The size is the loaded bitmap's own. Absent when the icon
// cannot be loaded; a bitmap whose size cannot be read gives 0 x 0, one whose pixels cannot be
// copied gives zero bytes. Windows only: other platforms have no executable resources.
std::optional<BgraPixels> loadIconResource(int id);

} // namespace orvanta
