#include "platform/folder_lock.hpp"

#include "platform/windows/win32.hpp"

#include <cstdint>
#include <cwctype>

namespace orvanta {

namespace {

// One name per folder, whatever spelling of it was given: the full path, case folded, hashed
// (FNV-1a), since an object name may not hold backslashes.
std::wstring semaphoreName(const std::wstring& folder) {
    std::wstring full(MAX_PATH, L'\0');
    DWORD length =
        GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1u);
        length =
            GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) {
        return {};
    }
    full.resize(length);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : full) {
        hash ^= static_cast<std::uint64_t>(std::towlower(static_cast<wint_t>(c)));
        hash *= 1099511628211ull;
    }
    static constexpr wchar_t hexDigits[] = L"0123456789abcdef";
    std::wstring name = L"Local\\Orvanta.Launcher.";
    for (int shift = 60; shift >= 0; shift -= 4) {
        name += hexDigits[(hash >> static_cast<unsigned>(shift)) & 0xFu];
    }
    return name;
}

} // namespace

FolderLock::~FolderLock() {
    release();
}

FolderLockResult FolderLock::acquire(const std::string& folder) {
    if (held()) {
        return FolderLockResult::Held;
    }
    const std::wstring name = semaphoreName(widen(folder.empty() ? std::string(".") : folder));
    if (name.empty()) {
        return FolderLockResult::Unavailable;
    }
    // A semaphore of one, not a mutex: it belongs to no thread, and the system frees it with
    // the last handle, so a launcher that crashed holds nothing.
    Handle semaphore{CreateSemaphoreW(nullptr, 1, 1, name.c_str())};
    if (!semaphore.valid()) {
        return FolderLockResult::Unavailable;
    }
    const DWORD waited = WaitForSingleObject(semaphore.handle, 0);
    if (waited == WAIT_OBJECT_0) {
        handle_ = reinterpret_cast<std::intptr_t>(semaphore.release());
        return FolderLockResult::Held;
    }
    return waited == WAIT_TIMEOUT ? FolderLockResult::HeldElsewhere : FolderLockResult::Unavailable;
}

void FolderLock::release() {
    if (held()) {
        HANDLE semaphore = reinterpret_cast<HANDLE>(handle_);
        ReleaseSemaphore(semaphore, 1, nullptr);
        CloseHandle(semaphore);
    }
    handle_ = -1;
}

} // namespace orvanta
