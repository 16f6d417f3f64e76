#include "platform/small_file.hpp"

#include "platform/windows/win32.hpp"

namespace orvanta {

std::optional<std::string> readSmallFile(const std::string& path, std::size_t maxBytes) {
    const std::wstring wide = widen(path);
    if (wide.empty()) {
        return std::nullopt;
    }
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; a link is opened as itself and
    // then turned away, like a pipe or a device.
    Handle file{CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || GetFileType(file.handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32u) | info.nFileSizeLow;
    if (size > maxBytes) {
        return std::nullopt;
    }
    // Read one byte past the limit, in case the file grew since it was measured.
    std::string text(maxBytes + 1, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        DWORD count = 0;
        if (!ReadFile(file.handle, text.data() + length, static_cast<DWORD>(text.size() - length),
                      &count, nullptr)) {
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        length += count;
    }
    if (length > maxBytes) {
        return std::nullopt;
    }
    text.resize(length);
    return text;
}

} // namespace orvanta
