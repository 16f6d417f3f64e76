#include "platform/paths.hpp"

#include <cstdlib>
#include <system_error>

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

std::string ownExecutablePath() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : program.string();
}

std::string executableDirectory() {
    return std::filesystem::path(ownExecutablePath()).parent_path().string();
}

} // namespace orvanta
