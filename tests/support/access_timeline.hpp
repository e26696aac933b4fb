// A procedure's accesses to a device and its pauses as one list, in the order
// they happened, so that a whole sequence compares at once and a changed or
// moved pause shows where it is. At each pause the clock notes how many
// accesses the device had received by then; merged() puts the pause there.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/recording_clock.hpp"

namespace testsupport {

// A pause as it stands in a merged list.
inline std::string PauseText(int ms) {
    return "pause " + std::to_string(ms);
}

class AccessTimeline {
  public:
    // `receivedCount` says how many accesses the device has received so far;
    // `then`, when given, is what else each pause does, after its mark.
    // Holds the clock's onPause for its lifetime.
    AccessTimeline(RecordingClock& clock, std::function<size_t()> receivedCount,
                   std::function<void(int ms)> then = {})
        : clock_(clock) {
        clock_.onPause = [this, count = std::move(receivedCount), then = std::move(then)](int ms) {
            marks_.push_back({count(), ms});
            if (then) then(ms);
        };
    }
    ~AccessTimeline() { clock_.onPause = nullptr; }
    AccessTimeline(const AccessTimeline&) = delete;
    AccessTimeline& operator=(const AccessTimeline&) = delete;

    // `received`: the device's record of accesses since the timeline began (or
    // was last cleared), with the pauses put in where they were taken.
    std::vector<std::string> merged(const std::vector<std::string>& received) const {
        std::vector<std::string> list;
        size_t next = 0;
        for (const auto& [count, ms] : marks_) {
            for (; next < count && next < received.size(); ++next) list.push_back(received[next]);
            list.push_back(PauseText(ms));
        }
        for (; next < received.size(); ++next) list.push_back(received[next]);
        return list;
    }

    // Starts afresh, together with the device's record.
    void clear() { marks_.clear(); }

  private:
    struct Mark {
        size_t count;
        int ms;
    };
    RecordingClock& clock_;
    std::vector<Mark> marks_;
};

}  // namespace testsupport
