#include "platform/staged_file.hpp"

#include "platform/windows/win32.hpp"

#include <climits>

namespace orvanta {

namespace {

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow &&
           (second.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0;
}

HANDLE asHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

StagedFile::~StagedFile() {
    close();
}

bool StagedFile::create(const std::string& path) {
    close();
    busy_ = false;
    const std::wstring wide = widen(path);
    if (wide.empty()) {
        return false;
    }
    // CREATE_NEW refuses any existing name, a link included; others may read it and may rename
    // or delete it (the rename into place goes by name), but not write to it.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        busy_ = GetLastError() == ERROR_SHARING_VIOLATION;
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    path_ = path;
    return true;
}

bool StagedFile::resume(const std::string& path) {
    close();
    busy_ = false;
    const std::wstring wide = widen(path);
    if (wide.empty()) {
        return false;
    }
    // Another launcher writing the file has it open without sharing writes: a sharing violation.
    Handle file{CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    busy_ = !file.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
    // A second name would make the writes land in some other file as well.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.valid() || !GetFileInformationByHandle(file.handle, &information) ||
        (information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        information.nNumberOfLinks != 1) {
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
    path_ = path;
    return true;
}

std::optional<std::size_t> StagedFile::readAt(std::uint64_t offset, char* data,
                                              std::size_t size) const {
    return isOpen() ? readAtOffset(asHandle(handle_), offset, data, size) : std::nullopt;
}

std::optional<std::uint64_t> StagedFile::size() const {
    LARGE_INTEGER length{};
    if (!isOpen() || !GetFileSizeEx(asHandle(handle_), &length) || length.QuadPart < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(length.QuadPart);
}

bool StagedFile::truncate(std::uint64_t size) {
    LARGE_INTEGER length{};
    length.QuadPart = static_cast<LONGLONG>(size);
    return isOpen() && size <= 0x7FFFFFFFFFFFFFFFull &&
           SetFilePointerEx(asHandle(handle_), length, nullptr, FILE_BEGIN) &&
           SetEndOfFile(asHandle(handle_));
}

bool StagedFile::write(const char* data, std::size_t size) {
    if (!isOpen()) {
        return false;
    }
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(asHandle(handle_), data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

std::string StagedFile::sha256() const {
    return isOpen() ? sha256OfHandle(asHandle(handle_)) : std::string();
}

bool StagedFile::makeExecutable() {
    return isOpen(); // Windows runs a file by its name, not a mode
}

bool StagedFile::flush() {
    return isOpen() && FlushFileBuffers(asHandle(handle_));
}

bool StagedFile::nameStillRefersToFile() const {
    const std::wstring wide = widen(path_);
    Handle named{CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)};
    return named.valid() && sameFile(asHandle(handle_), named.handle);
}

bool StagedFile::moveTo(const std::string& target) {
    const std::wstring from = widen(path_);
    const std::wstring to = widen(target);
    // Windows refuses to replace a program that is running: the old game then stays.
    if (!isOpen() || to.empty() || !nameStillRefersToFile() ||
        !MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return false;
    }
    close();
    return true;
}

void StagedFile::discard() {
    if (isOpen()) {
        // Deleted through this handle, so only the file this object made can go.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(asHandle(handle_), FileDispositionInfo, &disposition,
                                   sizeof disposition);
    }
    close();
}

void StagedFile::close() {
    if (handle_ >= 0 && handle_ != reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
        CloseHandle(asHandle(handle_));
    }
    handle_ = -1;
    path_.clear();
}

} // namespace orvanta
