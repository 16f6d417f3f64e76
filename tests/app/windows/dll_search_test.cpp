// Where the launcher's libraries come from: a DLL planted beside the program, under the name of
// one it imports, is never loaded.
#include "platform/paths.hpp"
#include "support/temp_dir.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <windows.h>

namespace orvanta {
namespace {

// Runs program with one argument, waits for it to end and gives its exit code.
DWORD runToEnd(const std::string& program, const std::wstring& argument) {
    std::wstring command = L"\"" + nativePath(program).wstring() + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return 1000;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1001;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST(DllSearch, ALibraryPlantedBesideTheProgramIsNotLoaded) {
    test::TempDir dir;
    const std::string program = dir.file("probe.exe");
    const std::string marker = dir.file("winhttp.dll.loaded");
    std::filesystem::copy_file(ORVANTA_DLL_SEARCH_PROBE, nativePath(program));
    std::filesystem::copy_file(ORVANTA_PLANTED_LIBRARY, nativePath(dir.file("winhttp.dll")));

    // Left to the default search (under Wine, with WINEDLLOVERRIDES=winhttp=n,b from the test's
    // environment), the planted copy is the one loaded: the marker can appear.
    EXPECT_EQ(runToEnd(program, L"unrestricted"), 0u);
    EXPECT_TRUE(test::fileExists(marker));
    std::filesystem::remove(nativePath(marker));

    EXPECT_EQ(runToEnd(program, L""), 0u);
    EXPECT_FALSE(test::fileExists(marker));
}

} // namespace
} // namespace orvanta
