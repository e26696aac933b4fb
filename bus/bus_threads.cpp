#include "bus/bus_threads.hpp"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "bus/scan_thread.hpp"
#include "bus/supervision.hpp"
#include "platform/message_box.hpp"

namespace {

std::mutex g_stopMutex;
std::condition_variable g_stopSignal;
std::atomic<bool> g_stopping{false};

// The scan, process-data and supervision threads, in start order.
struct BusThreadSet {
    std::mutex mutex;
    std::thread threads[3];
    bool running = false;

    // Joins them if the program forgot to; a joinable std::thread would end it.
    ~BusThreadSet() { StopBusThreads(); }
};
BusThreadSet g_busThreads;

template <typename T, size_t N>
void StoreAll(std::atomic<T> (&values)[N], T value) {
    for (auto& v : values) v = value;
}

}  // namespace

void StartBusThreads() {
    std::lock_guard lock(g_busThreads.mutex);
    if (g_busThreads.running) return;
    g_stopping = false;
    AllowMessageBoxWaits();
    g_busThreads.threads[0] = std::thread(ScanThread);
    g_busThreads.threads[1] = std::thread(ProcessDataThread);
    g_busThreads.threads[2] = std::thread(SupervisionThread);
    g_busThreads.running = true;
}

void StopBusThreads() {
    std::lock_guard lock(g_busThreads.mutex);
    if (!g_busThreads.running) return;
    {
        std::lock_guard stopLock(g_stopMutex);
        g_stopping = true;
    }
    g_stopSignal.notify_all();
    CancelMessageBoxWaits();
    for (std::thread& thread : g_busThreads.threads) thread.join();
    g_busThreads.running = false;
    // The helpers that the GUI shares with the threads pause normally again.
    g_stopping = false;
}

bool BusThreadsStopping() {
    return g_stopping.load();
}

void BusSleep(int ms) {
    std::unique_lock lock(g_stopMutex);
    g_stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_stopping.load(); });
}

void ResetBusGlobals() {
    g_bridgeCount = 0;
    StoreAll(g_bridgeSlave, 0);
    StoreAll(g_bridgeModel, 0);
    StoreAll(g_bridgeOutOffset, 0u);
    StoreAll(g_bridgeInOffset, 0u);
    StoreAll(g_ctrlWord, uint16_t{0});
    StoreAll(g_targetPos, 0);
    StoreAll(g_movePos, 0);
    StoreAll(g_moveSpeed, 0u);
    StoreAll(g_digOut, 0u);
    StoreAll(g_statusWord, 0u);
    StoreAll(g_actualPos, 0);
    StoreAll(g_motorOnline, 0u);
    for (auto* flag : {&g_scanRequest, &g_busPause, &g_bridgeMode, &g_moveStop, &g_cpioReapply,
                       &g_lanPicked, &g_eepromRequest, &g_busReady, &g_slavesFound, &g_scanRetry,
                       &g_expectedWkc, &g_lastPackedCycle, &g_wkc, &g_cycleCount, &g_ackCount,
                       &g_fullRestartCount, &g_lanScanState, &g_adapterCount}) {
        *flag = 0;
    }
    g_inOp = 0;
    g_strScanLog.clear();
    g_strSuperviseLog.clear();
    g_strTqlLog.clear();
    std::memset(g_adapterNames, 0, sizeof g_adapterNames);
    std::memset(g_adapterGuids, 0, sizeof g_adapterGuids);
    std::memset(g_ifName, 0, sizeof g_ifName);
    auto image = LockProcessImage();
    std::memset(g_ioMap, 0, sizeof g_ioMap);
    SetMappedAreaSizes(0, 0);
}
