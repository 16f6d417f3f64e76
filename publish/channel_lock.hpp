#pragma once

#include <string>

namespace orvanta::publish {

// The file in the channel folder whose lock one publication holds from the moment it reads the
// live manifest until its own is in place. It stays behind, empty; serving it does no harm.
inline constexpr const char* lockFileName = ".orvanta-publish.lock";

// Holds the channel folder's lock for its lifetime, waiting as long as another publication
// (another orvanta-publish, on this machine) holds it. The lock goes with the process, so a
// publication that crashes frees it.
class ChannelLock {
  public:
    ChannelLock() = default;
    ~ChannelLock();
    ChannelLock(const ChannelLock&) = delete;
    ChannelLock& operator=(const ChannelLock&) = delete;

    // Waits for the lock on channelDirectory's lock file; the error is empty once it is held.
    std::string acquire(const std::string& channelDirectory);

  private:
    int fd_ = -1;
};

} // namespace orvanta::publish
