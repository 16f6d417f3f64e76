#pragma once

#include <string>

// What the test support needs from the operating system, one implementation file per platform
// (posix/system.cpp, windows/system.cpp). Paths are UTF-8.
namespace orvanta::test::system {

// Creates a new folder, for this process only, under the system's temporary folder and gives its
// path; throws std::runtime_error when it cannot.
std::string makeTemporaryFolder();

// Sets an environment variable for this process; nullptr unsets it.
void setEnvironment(const std::string& name, const char* value);

// Lets the file be run as a program where that is a file mode (POSIX: mode 0755); on Windows a
// file runs by its name and this does nothing.
void makeExecutable(const std::string& path);

} // namespace orvanta::test::system
