#include "platform/paths.hpp"

#include "platform/windows/win32.hpp"

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace orvanta {

const char pathSeparator = '\\';

std::optional<std::string> localDataFolder() {
    PWSTR folder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder);
    if (FAILED(result)) {
        CoTaskMemFree(folder);
        return std::nullopt;
    }
    std::string utf8 = narrow(folder);
    CoTaskMemFree(folder);
    if (utf8.empty()) {
        return std::nullopt; // a relative "Orvanta" rather than one at the root of the drive
    }
    return utf8;
}

std::filesystem::path nativePath(const std::string& utf8) {
    return std::filesystem::path(widen(utf8));
}

std::string ownExecutablePath() {
    // The buffer grows until the whole path fits (long paths may exceed MAX_PATH).
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return narrow(path);
        }
        if (path.size() >= 32768) {
            return {};
        }
        path.resize(path.size() * 2);
    }
}

std::string executableDirectory() {
    const std::string path = ownExecutablePath();
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

} // namespace orvanta
