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

}  // namespace

bool BusThreadsStopping() {
    return stopping.load();
}

void BusSleep(int ms) {
    std::unique_lock lock(stopMutex);
    stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [] { return stopping.load(); });
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
