#include "platform/file_reader.hpp"

#include "platform/windows/win32.hpp"

namespace orvanta {

namespace {

HANDLE asHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

FileReader::~FileReader() {
    if (handle_ >= 0) {
        CloseHandle(asHandle(handle_));
    }
}

bool FileReader::open(const std::string& path) {
    const std::wstring wide = widen(path);
    if (wide.empty()) {
        return false;
    }
    Handle file{CreateFileW(wide.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid() || GetFileType(file.handle) != FILE_TYPE_DISK) {
        return false;
    }
    if (handle_ >= 0) {
        CloseHandle(asHandle(handle_));
    }
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
    return true;
}

std::optional<std::uint64_t> FileReader::size() const {
    LARGE_INTEGER length{};
    if (!isOpen() || !GetFileSizeEx(asHandle(handle_), &length) || length.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(length.QuadPart);
}

std::optional<std::size_t> FileReader::readAt(std::uint64_t offset, char* data,
                                              std::size_t size) const {
    return isOpen() ? readAtOffset(asHandle(handle_), offset, data, size) : std::nullopt;
}

std::optional<std::size_t> readAtOffset(void* file, std::uint64_t offset, char* data,
                                        std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const std::uint64_t at = offset + done;
        OVERLAPPED place{};
        place.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        place.OffsetHigh = static_cast<DWORD>(at >> 32);
        const std::size_t left = size - done;
        const DWORD want = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file, data + done, want, &got, &place)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

} // namespace orvanta
