// How long a scan of ZR12,IO,ZR02 on zrsim over a veth pair takes, from
// ec_config_init to OP (needs root: a private network namespace and raw
// sockets). Prints the median of the given number of scans (first argument,
// default 100); comparing two builds, run them by turns and divide the medians.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "scan_to_op.hpp"
#include "wire_bench.hpp"

int main(int argc, char** argv) {
    if (!bench::EnterZrsimTier("scan_time")) return 0;
    const int scans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    testsupport::Zrsim sim("ZR12,IO,ZR02");
    if (!bench::startScanSegment("scan_time", sim)) return 1;
    if (ec_init(testsupport::PrivateNetwork::kMasterIf) <= 0) {
        std::printf("scan_time: the master cannot open the link\n");
        return 1;
    }
    std::vector<double> total, configInit;
    for (int i = 0; i < scans; ++i) {
        const bench::ScanOutcome o = bench::scanToOp(3, 100);
        if (!o.ok) {
            std::printf("scan_time: scan %d failed: %s\n", i, o.failure.c_str());
            return 1;
        }
        total.push_back(o.totalMs);
        configInit.push_back(o.configInitMs);
    }
    ec_close();
    std::printf("scan to OP: median %.2f ms (ec_config_init %.2f ms) over %d scans\n",
                bench::median(total), bench::median(configInit), scans);
    return 0;
}
