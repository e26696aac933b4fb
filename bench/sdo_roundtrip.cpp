// SDO uploads and the process-data cycle through the master against a simulated
// segment served on a veth pair, each against raw frame ping-pongs on the same
// pair (needs root: a private network namespace and raw sockets): the SDOs
// against a one-datagram frame the far end mirrors, the cycle against a raw
// frame of the cycle's own shape that the segment answers as it answers the
// master's. Each against the fastest of three ways a raw program waits.
//
// The segment (bench_segment.hpp) runs in this process behind the far end of
// the pair, as zrsim serves it, so that raw and master rounds can alternate.
// Its slaves answer at once: an expedited upload is three frames (see
// frames_per_op), so sdo/raw near 3 means the master adds little to them.
// Figures are taken as the tool runs (CPU idle states on); the cycle is
// repeated with idle states held off, labelled, for comparison. Run it under
// `taskset -c N` to have the master and the segment share one CPU.
#include <cstdio>
#include <string>

#include "bench_segment.hpp"
#include "ethercat.h"
#include "wire_bench.hpp"

namespace {

using bench::PrivateNetwork;
constexpr double kSdoGoal = 3.5;     // expedited upload / raw
constexpr double kCycleGoal = 1.05;  // process-data cycle / raw frame of its shape

int fail(const char* what) {
    std::printf("sdo_roundtrip: %s\n", what);
    ec_close();
    return 1;
}

}  // namespace

int main() {
    if (!bench::EnterPrivateNetwork("sdo_roundtrip")) return 0;
    auto segment = bench::makeSegment();
    bench::Echo echo(segment);
    if (!echo.ok()) {
        std::printf("sdo_roundtrip: raw sockets unavailable; skipped\n");
        return 0;
    }
    if (ec_init(PrivateNetwork::kMasterIf) <= 0) return fail("ec_init failed");
    int expected = 0;
    if (!bench::bringToOp(expected)) return fail("the segment did not reach OP");
    const std::vector<uint8_t> cycleShaped = bench::cycleShapedFrame();
    ec_close();
    if (cycleShaped.empty()) return fail("the image takes more than one frame");

    auto sdo = [] { return bench::upload(bench::kBridge, 0x1018, 1, 4); };
    auto sdoLarge = [] {
        return bench::upload(bench::kLargeSlave, bench::kLargeIndex, 0, bench::kLargeSize);
    };
    auto cycle = [expected] {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET) == expected;
    };
    int failures = 0;  // transfers that failed (counted, timed all the same)
    const auto sdoTime = bench::compareWithRaw(echo, sdo, {15, 3, 600, 150}, failures);
    echo.resetSegmentTime();
    const auto cycleTime =
        bench::compareWithRaw(echo, cycle, {21, 3, 600, 600}, failures, cycleShaped);
    const double slavesShare = echo.segmentMicrosPerFrame() / cycleTime.raw();
    const auto largeTime = bench::compareWithRaw(echo, sdoLarge, {5, 3, 600, 30}, failures);
    bench::Comparison cycleIdleOff;
    {
        const bench::LowLatency idleOff;
        cycleIdleOff = bench::compareWithRaw(echo, cycle, {7, 3, 600, 600}, failures, cycleShaped);
    }
    if (!sdoTime.ok() || !cycleTime.ok() || !largeTime.ok()) return fail("no figures");

    if (failures > 0) std::printf("transfers or round trips that failed: %d\n", failures);
    std::printf("%s, medians of alternating rounds\n", bench::cpuPlacement().c_str());
    std::printf("against a one-datagram raw ping-pong: %s\n", bench::rawFigures(sdoTime).c_str());
    std::printf("SDO expedited upload (0x1018:01):   %8.2f us  sdo/raw   %5.2f (goal <= %.1f) %s\n",
                sdoTime.op, sdoTime.ratio, kSdoGoal, bench::verdict(sdoTime.ratio <= kSdoGoal));
    std::printf("against a raw frame of the cycle's shape: %s\n",
                bench::rawFigures(cycleTime).c_str());
    std::printf("process-data cycle (LRW + DC time): %8.2f us  cycle/raw %5.3f (goal <= %.2f) %s\n",
                cycleTime.op, cycleTime.ratio, kCycleGoal,
                bench::verdict(cycleTime.ratio <= kCycleGoal));
    std::printf("  the simulated slaves' own processing, in both: %.2f x raw\n", slavesShare);
    if (cycleIdleOff.ok()) {
        std::printf(
            "process-data cycle, IDLE STATES HELD OFF: %8.2f us  cycle/raw %5.3f "
            "(for information; raw %s)\n",
            cycleIdleOff.op, cycleIdleOff.ratio, bench::rawFigures(cycleIdleOff).c_str());
    }
    std::printf(
        "SDO upload of %zu bytes, segmented:  %8.2f us  %.1f us per kilobyte (%.2f x raw)\n",
        bench::kLargeSize, largeTime.op, largeTime.op * 1024.0 / bench::kLargeSize,
        largeTime.ratio);
    return 0;
}
