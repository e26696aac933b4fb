#include "bus/bus_threads.hpp"

#include <mutex>
#include <thread>

#include "bus/bus_stop.hpp"
#include "bus/process_image.hpp"
#include "bus/scan_thread.hpp"
#include "bus/supervision.hpp"
#include "platform/message_box.hpp"

namespace {

// The scan, process-data and supervision threads, in start order.
struct BusThreadSet {
    std::mutex mutex;
    std::thread threads[3];
    bool running = false;

    // Joins them if the program forgot to; a joinable std::thread would end it.
    ~BusThreadSet() { StopBusThreads(); }
};
BusThreadSet busThreads;

}  // namespace

void StartBusThreads() {
    std::lock_guard lock(busThreads.mutex);
    if (busThreads.running) return;
    ClearBusStop();
    AllowMessageBoxWaits();
    busThreads.threads[0] = std::thread(ScanThread);
    busThreads.threads[1] = std::thread(ProcessDataThread);
    busThreads.threads[2] = std::thread(SupervisionThread);
    busThreads.running = true;
}

void StopBusThreads() {
    std::lock_guard lock(busThreads.mutex);
    if (!busThreads.running) return;
    RequestBusStop();
    CancelMessageBoxWaits();
    for (std::thread& thread : busThreads.threads) thread.join();
    busThreads.running = false;
    ClearBusStop();
}
