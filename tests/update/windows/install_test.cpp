// Install folder cases for Windows: the local application-data folder, backslashes, and
// leftovers that are junctions.
#include "platform/paths.hpp"
#include "support/temp_dir.hpp"
#include "update/game_install.hpp"
#include "update/install.hpp"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>
#include <windows.h>
#include <winioctl.h>

namespace orvanta {
namespace {

using test::fileExists;
using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(InstallDirectory, IsOrvantaInTheLocalAppDataFolder) {
    const std::optional<std::string> local = localDataFolder();
    ASSERT_TRUE(local);
    EXPECT_EQ(resolveInstallDirectory(), *local + "\\Orvanta");
    EXPECT_NE(local->find(":\\"), std::string::npos) << *local; // an absolute path with a drive
}

TEST(JoinPath, PutsABackslashBetweenFolderAndName) {
    EXPECT_EQ(joinPath("C:\\Users\\J\xC3\xB6rg\\AppData\\Local", "Orvanta"),
              "C:\\Users\\J\xC3\xB6rg\\AppData\\Local\\Orvanta");
}

// A directory junction at name pointing at target, made the way mklink /J makes one.
bool makeJunction(const std::string& name, const std::string& target) {
    if (!CreateDirectoryW(nativePath(name).c_str(), nullptr)) {
        return false;
    }
    const std::wstring substitute =
        L"\\??\\" + std::filesystem::absolute(nativePath(target)).make_preferred().wstring();
    const auto bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    // Tag, data length, reserved; then the names' offsets and lengths; then both names.
    std::vector<char> buffer(8 + 8 + bytes + 2 * sizeof(wchar_t));
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD fields[] = {static_cast<WORD>(buffer.size() - 8),       0, 0, bytes,
                           static_cast<WORD>(bytes + sizeof(wchar_t)), 0};
    std::memcpy(buffer.data(), &tag, sizeof tag);
    std::memcpy(buffer.data() + 4, fields, sizeof fields);
    std::memcpy(buffer.data() + 16, substitute.data(), bytes);
    HANDLE folder = CreateFileW(nativePath(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD returned = 0;
    const BOOL made =
        DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(folder);
    return made && (GetFileAttributesW(nativePath(name).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Real folders left under the record's temporary name are emptied and removed.
TEST(Leftover, NestedFoldersGo) {
    TempDir dir;
    const std::string versionPath = dir.file("version.txt");
    std::filesystem::create_directories(nativePath(versionPath + ".new/a/b"));
    writeFile(versionPath + ".new/a/b/c.txt", "left");
    writeFile(versionPath + ".new/d.txt", "left");
    EXPECT_TRUE(writeTextFile(versionPath, "2.0"));
    EXPECT_EQ(readFile(versionPath), "2.0");
    EXPECT_FALSE(fileExists(versionPath + ".new"));
}

// A junction left at the download or record's temporary name goes, and what it points at stays.
TEST(Leftover, JunctionIsRemovedWithoutEmptyingItsTarget) {
    TempDir dir;
    const std::string target = dir.file("target");
    std::filesystem::create_directory(nativePath(target));
    writeFile(target + "/keep.txt", "the player's");
    const std::string exePath = dir.file("Orvanta.exe");
    const std::string versionPath = dir.file("version.txt");

    if (!makeJunction(exePath + ".download", target)) {
        GTEST_SKIP() << "no junctions here (Wine 8 cannot make them): error " << GetLastError();
    }
    ASSERT_TRUE(fileExists(exePath + ".download/keep.txt")); // the junction really leads there
    UpdateManifest manifest;
    manifest.game_version = "2.0";
    manifest.game_url = "http://127.0.0.1:1/game"; // refused: the download fails
    EXPECT_EQ(installGameBuild(manifest, exePath, versionPath, {}, {}), downloadFailedMessage);
    const std::filesystem::path download = nativePath(exePath + ".download");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(download)));
    EXPECT_EQ(readFile(target + "/keep.txt"), "the player's");

    // Inside a real folder left there, the junction is not followed either.
    std::filesystem::create_directory(nativePath(versionPath + ".new"));
    ASSERT_TRUE(makeJunction(versionPath + ".new/inner", target));
    EXPECT_TRUE(writeTextFile(versionPath, "2.0"));
    EXPECT_EQ(readFile(versionPath), "2.0");
    EXPECT_EQ(readFile(target + "/keep.txt"), "the player's");
}

} // namespace
} // namespace orvanta
