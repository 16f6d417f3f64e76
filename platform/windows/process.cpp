#include "platform/process.hpp"

#include "platform/windows/win32.hpp"

#include <shellapi.h>

namespace orvanta {

bool startDetachedProcess(const std::string& path) {
    const std::wstring file = widen(path);
    if (file.empty()) {
        return false;
    }
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // ShellExecuteW reports success as a value above 32 in the place of an instance handle.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace orvanta
