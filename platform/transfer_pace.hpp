#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace orvanta {

// How fast a download goes: the bytes that arrived in all (every response's headers and body)
// and when. A window from the start on may bring no fewer than the least: the transfer fails once
// the bytes of the last window, however it is placed, fall short.
class TransferPace {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts watching; until then the pace never fails a transfer.
    void watch(Clock::time_point start, Clock::duration window, std::uint64_t least);
    void arrived(std::uint64_t bytes, Clock::time_point now);
    // When the transfer fails if nothing more arrives; the far future when the pace is not
    // watched.
    Clock::time_point deadline() const;
    bool fellBehind(Clock::time_point now) const { return now >= deadline(); }
    // Time from pause to resume does not count: the window closes as if it had not passed.
    void pause(Clock::time_point now);
    void resume(Clock::time_point now);

  private:
    struct Sample {
        Clock::time_point opened;
        Clock::time_point at;
        std::uint64_t arrived;
    };
    Clock::duration window_{};
    std::uint64_t least_ = 0;
    std::uint64_t total_ = 0;
    std::deque<Sample> samples_; // oldest first; empty when the pace is not watched
    std::optional<Clock::time_point> pausedAt_;
};

} // namespace orvanta
