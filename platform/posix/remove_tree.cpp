#include "platform/remove_tree.hpp"

namespace orvanta {

// The standard library's remove_all removes a symbolic link itself and never descends through it.
std::uintmax_t removeTree(const std::filesystem::path& path) {
    return std::filesystem::remove_all(path);
}

std::uintmax_t removeTree(const std::filesystem::path& path, std::error_code& error) noexcept {
    return std::filesystem::remove_all(path, error);
}

} // namespace orvanta
