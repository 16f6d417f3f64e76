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

} // namespace orvanta
