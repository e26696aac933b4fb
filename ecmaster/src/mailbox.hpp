// Internal helpers shared by the mailbox, CoE and error-list modules.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "ethercat.h"

namespace ecmaster::detail {

// Wall-clock time stamp of error entries.
ec_timet currentTime();

// Pushes an entry stamped now; `details` supplies the union fields.
void pushError(uint16_t slave, ec_err_type type, uint16_t index, uint8_t subindex,
               const ec_errort& details);

// One mailbox exchange at a time per slave, from any thread. Recursive, so an
// SDO transfer holds it across the sends and receives it is made of.
std::recursive_mutex& mailboxLock(uint16_t slave);

// The next mailbox counter of `slave`, cycling 1..7 (call with its lock held).
uint8_t nextMailboxCounter(uint16_t slave);

// Forgets what a slave's read mailbox gave: a new configuration, or a slave
// whose mailbox starts afresh (one that went through INIT, after a power cycle,
// say, counts its messages from the start again).
void mailboxStateClear(uint16_t slave);

// Waits between polls of a slave: the first polls follow each other at once, then
// the pause grows gently to a ceiling (microseconds); it never runs past the deadline.
class PollPacer {
  public:
    using Clock = std::chrono::steady_clock;
    explicit PollPacer(Clock::time_point deadline, unsigned ceilingUs = 50)
        : deadline_(deadline), ceilingUs_(ceilingUs) {}
    bool expired() const { return Clock::now() >= deadline_; }
    Clock::time_point deadline() const { return deadline_; }
    void pause();

  private:
    Clock::time_point deadline_;
    unsigned ceilingUs_;
    unsigned polls_ = 0;
};

inline PollPacer::Clock::time_point deadlineIn(int timeoutUs) {
    return PollPacer::Clock::now() + std::chrono::microseconds(timeoutUs < 0 ? 0 : timeoutUs);
}

// Microseconds until `deadline`, 0 once it has passed.
inline int timeLeftUs(PollPacer::Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - PollPacer::Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

}  // namespace ecmaster::detail
