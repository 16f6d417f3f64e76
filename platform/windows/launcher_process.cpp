#include "platform/launcher_process.hpp"

#include "platform/windows/win32.hpp"

#include <cwchar>
#include <shellapi.h>
#include <thread>

namespace orvanta {

namespace {

// Names the pipe handle a started launcher announces itself on.
constexpr const wchar_t* readyVariable = L"ORVANTA_LAUNCHER_READY_HANDLE";
constexpr const wchar_t* uninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OrvantaLauncher";

HANDLE asHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// One argument as CommandLineToArgvW reads it back: quoted, backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument) {
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(2 * backslashes, L'\\');
    return text + L"\"";
}

// Tries a file operation for a few seconds: a process that just ended may still hold its program.
template <typename Operation> bool retried(Operation operation) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (operation()) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

std::vector<std::string> ownArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(narrow(words[i]));
    }
    LocalFree(words);
    return arguments;
}

bool installedByPackageManager(const std::string&) {
    return false; // a folder the player cannot write shows itself when the download is made
}

bool setAsideRunningExecutable(const std::string& path, const std::string& aside) {
    const std::wstring from = widen(path);
    const std::wstring to = widen(aside);
    return !from.empty() && !to.empty() &&
           MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool putBackExecutable(const std::string& aside, const std::string& path) {
    const std::wstring from = widen(aside);
    const std::wstring to = widen(path);
    return !from.empty() && !to.empty() && retried([&] {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

bool removeSetAsideExecutable(const std::string& aside) {
    const std::wstring name = widen(aside);
    return !name.empty() && retried([&] {
        return DeleteFileW(name.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
    });
}

LauncherStart::~LauncherStart() {
    if (readyRead_ != -1) {
        CloseHandle(asHandle(readyRead_));
    }
    if (process_ != -1) {
        CloseHandle(asHandle(process_));
    }
}

bool LauncherStart::start(const std::string& path, const std::vector<std::string>& arguments) {
    const std::wstring program = widen(path);
    if (process_ != -1 || program.empty()) {
        return false;
    }
    std::wstring commandLine = quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += L" " + quoted(widen(argument));
    }
    // Only the pipe's write end is inheritable; every other handle of this process is not.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return false;
    }
    Handle reader{readEnd};
    Handle writer{writeEnd};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const std::wstring value = std::to_wstring(reinterpret_cast<std::uintptr_t>(writeEnd));
    SetEnvironmentVariableW(readyVariable, value.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &started);
    SetEnvironmentVariableW(readyVariable, nullptr);
    if (!created) {
        return false;
    }
    CloseHandle(started.hThread);
    process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
    readyRead_ = reinterpret_cast<std::intptr_t>(reader.release());
    return true;
}

bool LauncherStart::awaitReady(std::chrono::milliseconds timeout) {
    if (process_ == -1) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool ready = false;
    for (;;) {
        // The pipe cannot be waited on with the process: look at it every little while.
        DWORD waiting = 0;
        const bool open =
            PeekNamedPipe(asHandle(readyRead_), nullptr, 0, nullptr, &waiting, nullptr) != 0;
        if (waiting > 0) {
            char signal = 0;
            DWORD got = 0;
            ready = ReadFile(asHandle(readyRead_), &signal, 1, &got, nullptr) && got == 1;
            break;
        }
        if (!open || std::chrono::steady_clock::now() >= deadline ||
            WaitForSingleObject(asHandle(process_), 20) == WAIT_OBJECT_0) {
            // One last look: it may have said so just before it ended.
            if (open &&
                PeekNamedPipe(asHandle(readyRead_), nullptr, 0, nullptr, &waiting, nullptr) &&
                waiting > 0) {
                continue;
            }
            break;
        }
    }
    if (ready) {
        return true; // it runs on, on its own
    }
    TerminateProcess(asHandle(process_), 1);
    WaitForSingleObject(asHandle(process_), 5000);
    return false;
}

void announceLauncherReady() {
    wchar_t value[32] = {};
    const DWORD length = GetEnvironmentVariableW(readyVariable, value, 32);
    if (length == 0 || length >= 32) {
        return;
    }
    SetEnvironmentVariableW(readyVariable, nullptr);
    wchar_t* end = nullptr;
    const unsigned long long number = std::wcstoull(value, &end, 10);
    if (end == value || *end != L'\0' || number == 0) {
        return;
    }
    // Only a pipe is written to: a stray variable must not make the launcher write into a file.
    const auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(number));
    if (GetFileType(handle) != FILE_TYPE_PIPE) {
        return;
    }
    const char signal = 1;
    DWORD written = 0;
    WriteFile(handle, &signal, 1, &written, nullptr);
    CloseHandle(handle);
}

void recordRunningLauncherVersion(const std::string& version) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return; // not installed by the installer
    }
    const std::wstring text = widen(version);
    RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

} // namespace orvanta
