#include "bus/bus_stop.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bus/busy_wait.hpp"

namespace {

std::mutex stopMutex;
std::condition_variable stopSignal;
std::atomic<bool> stopping{false};

class RealClock final : public ProcedureClock {
  public:
    void Pause(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    Clock::time_point Now() override { return Clock::now(); }
};

RealClock realClock;
std::atomic<ProcedureClock*> installedClock{nullptr};
std::atomic<BusClock*> installedBusClock{nullptr};

}  // namespace

bool BusThreadsStopping() {
    return stopping.load();
}

void BusSleep(int ms) {
    BusClock* clock = installedBusClock.load();
    const std::chrono::microseconds wait =
        clock != nullptr ? clock->Pause(ms) : std::chrono::milliseconds(ms);
    std::unique_lock lock(stopMutex);
    stopSignal.wait_for(lock, wait, [] { return stopping.load(); });
}

BusClock::Clock::time_point BusNow() {
    BusClock* clock = installedBusClock.load();
    return clock != nullptr ? clock->Now() : BusClock::Clock::now();
}

BusClock* SetBusClock(BusClock* clock) {
    return installedBusClock.exchange(clock);
}

void PauseMs(int ms) {
    WaitFixed(ms, [ms] { TheProcedureClock().Pause(ms); });
}

ProcedureClock& TheProcedureClock() {
    ProcedureClock* clock = installedClock.load();
    return clock != nullptr ? *clock : realClock;
}

ProcedureClock* SetProcedureClock(ProcedureClock* clock) {
    return installedClock.exchange(clock);
}

void RequestBusStop() {
    {
        std::lock_guard lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
}

void ClearBusStop() {
    stopping = false;
}
