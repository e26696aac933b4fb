// SDO expedited upload and one process-data cycle through the master against
// zrsim on a veth pair, each divided by a raw frame ping-pong on the same pair
// (needs root: a private network namespace and raw sockets).
//
// An expedited upload takes at least five round trips (flush poll, SM0 check,
// request write, SM1 poll, reply read), so sdo/raw near 5 means the mailbox
// code adds little beyond the frames it must send; an LRW cycle is one frame.
#include <chrono>
#include <cstdio>
#include <string>

#include "ethercat.h"
#include "wire_bench.hpp"

namespace {

using bench::PrivateNetwork;
constexpr const char* kSlaves = "ZR12,IO,ZR02";
constexpr int kSlaveCount = 3;

int fail(const char* what) {
    std::printf("sdo_roundtrip: %s\n", what);
    ec_close();
    return 1;
}

}  // namespace

int main() {
    bench::UseZrsimBesideThisProgram();
    if (!PrivateNetwork::enter()) {
        std::printf("sdo_roundtrip: %s; skipped\n", PrivateNetwork::reason().c_str());
        return 0;
    }
    constexpr int kBatches = 9;

    double raw = -1;
    {
        bench::Echo echo;
        bench::RawPingPong ping;
        if (!echo.ok() || !ping.ok()) {
            std::printf("sdo_roundtrip: raw sockets unavailable; skipped\n");
            return 0;
        }
        bench::medianMicros(ping, 1, 500);  // warm up
        raw = bench::medianMicros(ping, kBatches, 2000);
    }
    if (raw <= 0) {
        std::printf("sdo_roundtrip: the raw ping-pong failed\n");
        return 1;
    }

    testsupport::Zrsim zrsim(kSlaves, 0);
    if (std::string error; !zrsim.start(&error))
        return fail(("cannot start zrsim: " + error).c_str());
    if (!testsupport::waitForSlaves(PrivateNetwork::kMasterIf, kSlaveCount,
                                    std::chrono::seconds(10))) {
        return fail("the master found no slaves on the pair");
    }
    static uint8_t iomap[4096];
    if (ec_config_init(FALSE) != kSlaveCount) return fail("ec_config_init failed");
    if (ec_config_map(iomap) <= 0) return fail("ec_config_map failed");
    ec_configdc();
    if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) {
        return fail("the slaves did not reach SAFE-OP");
    }
    const int expected = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;

    auto sdo = [] {
        uint32_t vendor = 0;
        int size = sizeof vendor;
        return ec_SDOread(1, 0x1018, 1, FALSE, &size, &vendor, EC_TIMEOUTRXM) == 1;
    };
    auto cycle = [expected] {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET) == expected;
    };
    bench::medianMicros(sdo, 1, 100);
    bench::medianMicros(cycle, 1, 500);
    const double sdoUs = bench::medianMicros(sdo, kBatches, 300);
    const double cycleUs = bench::medianMicros(cycle, kBatches, 2000);
    ec_close();
    if (sdoUs <= 0 || cycleUs <= 0) {
        std::printf("sdo_roundtrip: a transfer failed (sdo %.2f us, cycle %.2f us)\n", sdoUs,
                    cycleUs);
        return 1;
    }
    std::printf("raw frame ping-pong on veth:          %9.2f us\n", raw);
    std::printf("SDO expedited upload (0x1018:01):     %9.2f us   sdo/raw   %7.2f\n", sdoUs,
                sdoUs / raw);
    std::printf("process-data cycle (LRW + DC time):   %9.2f us   cycle/raw %7.2f\n", cycleUs,
                cycleUs / raw);
    return 0;
}
