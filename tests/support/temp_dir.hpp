#pragma once

#include <string>

namespace orvanta::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const char* value); // nullptr unsets it
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    bool hadValue_ = false;
    std::string oldValue_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes, bool executable = false);
bool fileExists(const std::string& path);
// Waits up to five seconds for a file with something in it (written by another process).
bool waitForFile(const std::string& path);

} // namespace orvanta::test
