#include "platform/process.hpp"

#include "platform/windows/win32.hpp"

#include <shellapi.h>

namespace orvanta {

bool startDetachedProcess(const std::string& path) {
    const std::wstring file = widen(path);
    // "open" on a folder shows it in Explorer and would count as a started game.
    const DWORD attributes =
        file.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // ShellExecuteW reports success as a value above 32 in the place of an instance handle.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace orvanta
