// A bus clock for tests: every pause of the bus threads is recorded as a value
// and waited out in a token millisecond, so scans, retries and supervision
// passes run without their real pacing. Its time is the real time plus every
// pause asked for, as if they had been waited out one after another. Installed
// for its scope; put it back only after the bus threads have stopped.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "bus/bus_stop.hpp"
#include "support/installed_clock.hpp"

namespace testsupport {

class FastBusClock final : public BusClock {
  public:
    std::chrono::microseconds Pause(int ms) override {
        {
            std::lock_guard lock(mutex_);
            if (onPause_) onPause_(ms);
            pauses_.push_back(ms);
        }
        pausedMs_.fetch_add(ms);
        // Never no wait at all: the threads' loops would spin.
        return std::chrono::milliseconds(std::min(ms, 1));
    }

    Clock::time_point Now() override {
        return Clock::now() + std::chrono::milliseconds(pausedMs_.load());
    }

    // The pauses in the order they were asked for, of all threads together.
    std::vector<int> pauses() const {
        std::lock_guard lock(mutex_);
        return pauses_;
    }
    // How many pauses of `ms` were asked for.
    size_t count(int ms) const {
        std::lock_guard lock(mutex_);
        return static_cast<size_t>(std::count(pauses_.begin(), pauses_.end(), ms));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        pauses_.clear();
    }
    // Runs at the start of each pause, on the pausing thread, one at a time:
    // sees what a thread left standing for its pause, however short that is.
    void onPause(std::function<void(int ms)> hook) {
        std::lock_guard lock(mutex_);
        onPause_ = std::move(hook);
    }

  private:
    mutable std::mutex mutex_;
    std::vector<int> pauses_;
    std::function<void(int ms)> onPause_;
    std::atomic<int64_t> pausedMs_{0};
    InstalledClock<BusClock, &SetBusClock> installed_{this};
};

}  // namespace testsupport
