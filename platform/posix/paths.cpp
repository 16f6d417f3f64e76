#include "platform/paths.hpp"

#include <cstdlib>

namespace orvanta {

const char pathSeparator = '/';

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::optional<std::string> localDataFolder() {
    const std::string dataHome = environmentValue("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.front() == '/') {
        return dataHome;
    }
    const std::string home = environmentValue("HOME");
    if (!home.empty()) {
        return home + (home.back() == '/' ? "" : "/") + ".local/share";
    }
    return std::nullopt;
}

std::filesystem::path nativePath(const std::string& utf8) {
    return std::filesystem::path(utf8);
}

} // namespace orvanta
