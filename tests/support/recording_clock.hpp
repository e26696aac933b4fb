// A procedure clock for tests: every pause is recorded and moves the clock's own
// time on at once, so a procedure runs without sleeping and its pauses are
// checked as values. Installed for the test's scope, the real clock afterwards.
#pragma once

#include <functional>
#include <vector>

#include "bus/bus_stop.hpp"
#include "support/installed_clock.hpp"

namespace testsupport {

class RecordingClock final : public ProcedureClock {
  public:
    void Pause(int ms) override {
        if (onPause) onPause(ms);
        pauses.push_back(ms);
        now_ += std::chrono::milliseconds(ms);
    }
    Clock::time_point Now() override { return now_; }
    // Moves the time on without a pause of the procedure's: a window's timer
    // that ticks meanwhile.
    void Advance(int ms) { now_ += std::chrono::milliseconds(ms); }

    // The pauses in the order they were taken.
    std::vector<int> pauses;
    // Runs at the start of each pause: what the procedure left standing for it.
    std::function<void(int ms)> onPause;

  private:
    Clock::time_point now_{};
    InstalledClock<ProcedureClock, &SetProcedureClock> installed_{this};
};

}  // namespace testsupport
