#include "platform/windows/win32.hpp"

#include <climits>

namespace orvanta {

std::wstring widen(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                            needed) != needed) {
        return {};
    }
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, utf8.data(), needed,
                            nullptr, nullptr) != needed) {
        return {};
    }
    return utf8;
}

Handle::~Handle() {
    if (valid()) {
        CloseHandle(handle);
    }
}

bool Handle::valid() const {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void* Handle::release() {
    void* value = handle;
    handle = nullptr;
    return value;
}

} // namespace orvanta
