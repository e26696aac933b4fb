// The period of the tool's process-data thread against zrsim over a veth pair
// (needs root: a private network namespace and raw sockets). The thread pauses
// 20 ms after each exchange, so its nominal period is 20 ms plus one exchange;
// the ratios of the measured median and 99th percentile to that show how much
// the scheduling and the rest of the tool add.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "ethercat.h"
#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"
#include "support/wait_until.hpp"
#include "wire_bench.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::duration<double, std::micro>;
constexpr int kCycles = 1000;
constexpr int kExchanges = 200;
constexpr double kPauseUs = 20000.0;

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[at];
}

// Times each new value of g_cycleCount, polling finely.
std::vector<double> MeasurePeriods(int count) {
    std::vector<double> periods;
    int32_t last = g_cycleCount.load();
    auto lastAt = Clock::now();
    const auto deadline = lastAt + std::chrono::seconds(count / 10 + 60);
    while (static_cast<int>(periods.size()) < count && Clock::now() < deadline) {
        const int32_t now = g_cycleCount.load();
        if (now != last) {
            const auto at = Clock::now();
            if (now == last + 1) periods.push_back(Micros(at - lastAt).count());
            last = now;
            lastAt = at;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return periods;
}

// One exchange as the process-data thread makes it, with the threads stopped.
std::vector<double> MeasureExchanges(int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        ExchangeProcessData();
        times.push_back(Micros(Clock::now() - start).count());
    }
    return times;
}

int Fail(const std::string& why) {
    std::printf("pd_period: %s\n", why.c_str());
    StopBusThreads();
    ec_close();
    return 1;
}

}  // namespace

int main() {
    if (!bench::EnterZrsimTier("pd_period")) return 0;
    InstallMessageBoxPresenter(
        [](const std::wstring& text) { std::printf("pd_period: box: %ls\n", text.c_str()); });
    testsupport::Zrsim sim("ZR12,IO,ZR02");
    std::string error;
    if (!sim.start(&error)) return Fail("zrsim did not start: " + error);

    g_selectLan = 1;
    g_lanName.set(std::string("\\Device\\NPF_") + testsupport::PrivateNetwork::kMasterIf);
    g_slaveCount = 3;
    StartBusThreads();
    g_scanRequest = 1;
    if (!testsupport::WaitUntil([] { return g_inOp.load() == 1; }, 60)) {
        return Fail("the scan did not reach OP");
    }
    const std::vector<double> periods = MeasurePeriods(kCycles);
    StopBusThreads();
    if (static_cast<int>(periods.size()) < kCycles) return Fail("too few cycles measured");
    const std::vector<double> exchanges = MeasureExchanges(kExchanges);
    ec_close();

    const double exchange = Percentile(exchanges, 0.5);
    const double nominal = kPauseUs + exchange;
    const double median = Percentile(periods, 0.5);
    const double p99 = Percentile(periods, 0.99);
    std::printf("process-data period over %d cycles (nominal 20 ms + exchange %.0f us)\n", kCycles,
                exchange);
    std::printf("  median %.0f us  ratio %.3f\n", median, median / nominal);
    std::printf("  p99    %.0f us  ratio %.3f\n", p99, p99 / nominal);
    return 0;
}
