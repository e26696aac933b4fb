// Scans ZR12,IO,ZR02 on zrsim over a veth pair to OP again and again while a
// busy thread runs on every CPU (needs root: a private network namespace and raw
// sockets): a scan must not fail because the machine is slow to answer. Stops
// after 500 scans or the time limit (seconds, first argument, default 300),
// prints the failures it met and how long scans took, and fails on any failure.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "scan_to_op.hpp"
#include "wire_bench.hpp"

namespace {

constexpr int kScans = 500;
constexpr int kFailuresShown = 10;

// One spinning thread per CPU for as long as it lives.
class BusyCpus {
  public:
    BusyCpus() {
        const unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i) {
            threads_.emplace_back([this] {
                volatile unsigned long spin = 0;
                while (!stop_.load(std::memory_order_relaxed)) spin = spin + 1;
            });
        }
    }
    ~BusyCpus() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    size_t count() const { return threads_.size(); }

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

}  // namespace

int main(int argc, char** argv) {
    if (!bench::EnterZrsimTier("scan_stress")) return 0;
    const int limitS = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    testsupport::Zrsim sim("ZR12,IO,ZR02");
    if (!bench::startScanSegment("scan_stress", sim)) return 1;

    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::seconds(limitS);
    std::vector<double> times;
    std::vector<std::string> failures;
    double slowestConfigInit = 0;
    {
        BusyCpus busy;
        std::printf("scan_stress: up to %d scans in %d s, %zu busy threads\n", kScans, limitS,
                    busy.count());
        for (int i = 0; i < kScans && Clock::now() < end; ++i) {
            if (ec_init(testsupport::PrivateNetwork::kMasterIf) <= 0) {
                failures.push_back("ec_init failed");
                continue;
            }
            const bench::ScanOutcome o = bench::scanToOp(3, 100);
            ec_close();
            times.push_back(o.totalMs);
            slowestConfigInit = std::max(slowestConfigInit, o.configInitMs);
            if (!o.ok) {
                char head[96];
                std::snprintf(head, sizeof head, "scan %d after %.1f ms (config_init %.1f ms): ", i,
                              o.totalMs, o.configInitMs);
                failures.push_back(head + o.failure);
            }
        }
    }
    for (size_t i = 0; i < failures.size() && i < kFailuresShown; ++i) {
        std::printf("  failure: %s\n", failures[i].c_str());
    }
    std::sort(times.begin(), times.end());
    const double median = times.empty() ? 0 : times[times.size() / 2];
    const double p99 = times.empty() ? 0 : times[(times.size() - 1) * 99 / 100];
    std::printf("scans %zu, failures %zu (goal 0) %s\n", times.size(), failures.size(),
                bench::verdict(failures.empty()));
    std::printf(
        "scan to OP under load: median %.1f ms, p99 %.1f ms (%.2f x median), slowest "
        "%.1f ms; slowest ec_config_init %.1f ms\n",
        median, p99, median > 0 ? p99 / median : 0, times.empty() ? 0 : times.back(),
        slowestConfigInit);
    return failures.empty() ? 0 : 1;
}
