// Install folder cases for Windows: the local application-data folder and backslashes.
#include "platform/paths.hpp"
#include "update/install.hpp"

#include <gtest/gtest.h>

namespace orvanta {
namespace {

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

} // namespace
} // namespace orvanta
