#include "platform/error_box.hpp"

#include "platform/windows/win32.hpp"

#include <climits>

namespace orvanta {

namespace {

// Unlike widen, keeps going over invalid bytes: a message with a stray byte is still worth reading.
std::wstring widenLeniently(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
    return wide;
}

} // namespace

void showErrorBox(const std::string& caption, const std::string& message) {
    MessageBoxW(nullptr, widenLeniently(message).c_str(), widenLeniently(caption).c_str(),
                MB_ICONERROR | MB_OK);
}

} // namespace orvanta
