// Stands in for the game in the Windows launch test. Next to its own file (NAME.exe) it writes
// NAME.exe.marker with the number of arguments it got, stays alive until NAME.exe.release appears
// (or 20 s pass), then writes NAME.exe.done.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <windows.h>

int main(int argc, char**) {
    std::wstring self(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (length == 0 || length >= self.size()) {
        return 1;
    }
    self.resize(length);
    const auto beside = [&](const wchar_t* suffix) { return std::filesystem::path(self + suffix); };

    std::ofstream(beside(L".marker"), std::ios::binary) << "args:" << argc - 1 << "\n";
    for (int i = 0; i < 400 && !std::filesystem::exists(beside(L".release")); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ofstream(beside(L".done"), std::ios::binary) << "done\n";
    return 0;
}
