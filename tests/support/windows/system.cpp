#include "support/system.hpp"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <windows.h>

namespace orvanta::test::system {

namespace {

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace

std::string makeTemporaryFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = L"orvanta-test-";
        for (int i = 0; i < 6; ++i) {
            name += static_cast<wchar_t>(digits[random() % (sizeof digits - 1)]);
        }
        const std::filesystem::path folder = base / name;
        // Fails when the name is taken, so the folder found is always a new one.
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            return utf8(folder);
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

void setEnvironment(const std::string& name, const char* value) {
    // An empty value removes the variable: Windows has no empty environment variables. The C
    // runtime passes the change on to the process environment too.
    _putenv_s(name.c_str(), value != nullptr ? value : "");
}

void makeExecutable(const std::string&) {}

} // namespace orvanta::test::system
