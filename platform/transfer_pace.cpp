#include "platform/transfer_pace.hpp"

namespace orvanta {

using namespace std::chrono_literals;

void TransferPace::watch(Clock::time_point start, Clock::duration window, std::uint64_t least) {
    window_ = window;
    least_ = least;
    samples_.assign(1, {start, start, 0});
}

void TransferPace::arrived(std::uint64_t bytes, Clock::time_point now) {
    if (samples_.empty() || bytes == 0) {
        return;
    }
    total_ += bytes;
    // Arrivals within a tenth of a second share a sample dated by the last of them: the bytes
    // count as a little later than they came, never earlier. The start of the transfer, with
    // nothing arrived, stays a sample of its own.
    Sample& last = samples_.back();
    if (last.arrived > 0 && now - last.opened < 100ms) {
        last.at = now;
        last.arrived = total_;
    } else {
        samples_.push_back({now, now, total_});
    }
    // The window that fails first starts at the first sample after which fewer than the least
    // arrived; earlier samples can never be that start again.
    while (samples_.size() > 1 && samples_.front().arrived + least_ <= total_) {
        samples_.pop_front();
    }
}

void TransferPace::pause(Clock::time_point now) {
    if (!pausedAt_) {
        pausedAt_ = now;
    }
}

void TransferPace::resume(Clock::time_point now) {
    if (!pausedAt_) {
        return;
    }
    const Clock::duration idle = now - *pausedAt_;
    pausedAt_.reset();
    for (Sample& sample : samples_) {
        sample.opened += idle;
        sample.at += idle;
    }
}

TransferPace::Clock::time_point TransferPace::deadline() const {
    if (samples_.empty()) {
        return Clock::time_point::max();
    }
    return samples_.front().at + window_;
}

} // namespace orvanta
