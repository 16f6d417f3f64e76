#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace orvanta {

// Removes path and, when it is a real folder, everything inside it, like
// std::filesystem::remove_all, but a link or junction met anywhere is removed as a name and never
// followed, so nothing outside the tree is touched. A missing path is not an error. Returns how
// many entries went; the first form throws std::filesystem::filesystem_error on failure, the
// second sets error and returns static_cast<std::uintmax_t>(-1).
std::uintmax_t removeTree(const std::filesystem::path& path);
std::uintmax_t removeTree(const std::filesystem::path& path, std::error_code& error) noexcept;

} // namespace orvanta
