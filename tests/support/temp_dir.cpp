#include "support/temp_dir.hpp"

#include "platform/paths.hpp"
#include "support/system.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace orvanta::test {

TempDir::TempDir() : path_(system::makeTemporaryFolder()) {}

TempDir::~TempDir() {
    std::error_code ignored;
    const std::filesystem::path path = nativePath(path_);
    // Tests may leave read-only folders behind; make them writable so removal succeeds.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadValue_ = true;
        oldValue_ = old;
    }
    system::setEnvironment(name_, value);
}

ScopedEnv::~ScopedEnv() {
    system::setEnvironment(name_, hadValue_ ? oldValue_.c_str() : nullptr);
}

std::string readFile(const std::string& path) {
    std::ifstream in(nativePath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes, bool executable) {
    {
        std::ofstream out(nativePath(path), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    if (executable) {
        system::makeExecutable(path);
    }
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(nativePath(path), ignored);
}

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        if (fileExists(path) && !readFile(path).empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace orvanta::test
