#include "platform/remove_tree.hpp"

#include "platform/windows/win32.hpp"

namespace orvanta {

namespace {

bool isAbsence(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

std::error_code lastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

// The attributes are those of the name itself: a junction or symbolic link reports
// FILE_ATTRIBUTE_REPARSE_POINT and is never opened or listed here, only deleted.
void removeEntry(const std::filesystem::path& path, std::uintmax_t& removed,
                 std::error_code& error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!isAbsence(GetLastError())) {
            error = lastError();
        }
        return;
    }
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folder && !link) {
        WIN32_FIND_DATAW entry;
        HANDLE listing = FindFirstFileW((path / L"*").c_str(), &entry);
        if (listing == INVALID_HANDLE_VALUE) {
            if (!isAbsence(GetLastError())) {
                error = lastError();
            }
            return;
        }
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                removeEntry(path / name, removed, error);
            }
        } while (!error && FindNextFileW(listing, &entry));
        if (!error && GetLastError() != ERROR_NO_MORE_FILES) {
            error = lastError();
        }
        FindClose(listing);
        if (error) {
            return;
        }
    }
    // A directory junction or directory link is a folder name: RemoveDirectoryW deletes the name
    // and leaves its target alone. A file link is deleted like a file.
    const BOOL done = folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    if (done) {
        ++removed;
    } else if (!isAbsence(GetLastError())) {
        error = lastError();
    }
}

} // namespace

std::uintmax_t removeTree(const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t removed = removeTree(path, error);
    if (error) {
        throw std::filesystem::filesystem_error("cannot remove all", path, error);
    }
    return removed;
}

std::uintmax_t removeTree(const std::filesystem::path& path, std::error_code& error) noexcept {
    error.clear();
    std::uintmax_t removed = 0;
    try {
        removeEntry(path, removed, error);
    } catch (const std::bad_alloc&) {
        error = std::make_error_code(std::errc::not_enough_memory);
    }
    return error ? static_cast<std::uintmax_t>(-1) : removed;
}

} // namespace orvanta
