// The bus threads' stop request and the tool's two pauses, each on its clock:
// the one that a stop cuts short, and the fixed one of the windows. A leaf of
// the bus layer: every loop and helper that pauses uses it; only the thread
// start and stop (bus_threads) raise and clear the request.
#pragma once

#include <chrono>

// True while the bus threads are being asked to end.
bool BusThreadsStopping();

// Sleeps `ms` milliseconds, or less when the threads are told to stop. The bus
// threads' pauses go through it so that a stop is prompt; their length comes
// from the bus clock.
void BusSleep(int ms);

// The pacing of the bus threads' pauses (BusSleep) and the time they judge
// their waits by. The tool's clock waits each pause out; a test installs one
// that notes the pauses as values and waits a token time, so that the threads'
// loops, retries and checks run at once while their counts and lengths stay
// checkable. Asked by every bus thread at once: an installed clock must be
// thread-safe.
class BusClock {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~BusClock() = default;
    // A thread pauses `ms` milliseconds: how long it really waits (a stop still
    // cuts that short).
    virtual std::chrono::microseconds Pause(int ms) = 0;
    virtual Clock::time_point Now() = 0;
};

// The time on the bus clock.
BusClock::Clock::time_point BusNow();

// Installs `clock` (nullptr: the real one again) and returns the one it replaced
// (nullptr when that was the real one). Install before the bus threads start
// and put back after they have stopped.
BusClock* SetBusClock(BusClock* clock);

// Sleeps `ms` milliseconds whatever the bus threads do, on the procedure clock.
// The windows' device procedures wait out their fixed timings with it and block
// the GUI thread on purpose: the devices need those pauses between accesses.
// There a long run of them shows the busy cursor (busy_wait.hpp).
void PauseMs(int ms);

// The time of the windows' procedures: their fixed pauses and the time they read.
// The tool's clock sleeps for real; a test installs one that records each pause
// and moves its own time on, so a procedure's sequence of accesses and pauses is
// checked as values and runs without sleeping.
class ProcedureClock {
  public:
    using Clock = std::chrono::steady_clock;
    virtual ~ProcedureClock() = default;
    virtual void Pause(int ms) = 0;
    virtual Clock::time_point Now() = 0;
};

// The clock in use: the real one unless a test installed its own.
ProcedureClock& TheProcedureClock();
// Installs `clock` (nullptr: the real one again) and returns the one it replaced
// (nullptr when that was the real one). Install before the procedure runs.
ProcedureClock* SetProcedureClock(ProcedureClock* clock);

// Raises the request and wakes every BusSleep.
void RequestBusStop();
// Lets the helpers that the GUI shares with the threads pause normally again.
void ClearBusStop();
