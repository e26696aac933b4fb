// The one way tests and benchmarks wait for something: poll a condition with a
// deadline, optionally doing some work between the polls (a process-data
// cycle, a tick of the segment, a turn of Qt's event loop).
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// A timeout in microseconds that no busy machine outlasts, for tests of what
// arrives rather than how soon.
inline constexpr int kPatientUs = 500000;

struct Poll {
    // Runs after each poll that found the condition false, before the pause.
    std::function<void()> between = {};
    std::chrono::microseconds pause = std::chrono::milliseconds(5);
};

// Polls `done` until it holds or `limit` passes; says whether it held.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      const Poll& poll = {}) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (poll.between) poll.between();
        std::this_thread::sleep_for(poll.pause);
    }
    return true;
}

// The same with the limit in whole seconds.
inline bool WaitUntil(const std::function<bool()>& done, int seconds = 20, const Poll& poll = {}) {
    return WaitUntil(done, std::chrono::seconds(seconds), poll);
}

}  // namespace testsupport
