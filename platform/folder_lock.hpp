#pragma once

#include <cstdint>
#include <string>

namespace orvanta {

enum class FolderLockResult {
    Held,          // this object holds the lock
    HeldElsewhere, // another process (or another object) holds it
    Unavailable,   // the folder cannot be opened or cannot hold a lock
};

// An exclusive, advisory lock on a folder, held until release or destruction. It goes with the
// process: a crash frees it, and programs this process starts do not inherit it.
class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock without waiting; Held at once when this object already holds it.
    FolderLockResult acquire(const std::string& folder);
    bool held() const { return handle_ >= 0; }
    void release();

  private:
    std::intptr_t handle_ = -1; // a file descriptor, or a Windows handle
};

} // namespace orvanta
