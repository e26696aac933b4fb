// Frames each operation of the master puts on the wire, as the simulated
// segment counts them, on the in-process virtual wire (no root needed). The
// slaves answer at once, so the counts are the least each operation takes.
#include <cstdio>
#include <vector>

#include "bench_segment.hpp"
#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
#include "ethercat.h"

namespace {

constexpr int kCalls = 100;

// Frames per call of `op`; -1 when a call failed.
template <class Op>
double framesPer(ecsim::Segment& segment, Op&& op) {
    const uint64_t before = segment.framesProcessed();
    for (int i = 0; i < kCalls; ++i) {
        if (!op()) return -1;
    }
    return static_cast<double>(segment.framesProcessed() - before) / kCalls;
}

void line(const char* what, double frames, double goal = 0) {
    if (goal > 0) {
        std::printf("%-40s %6.2f   (goal <= %.0f) %s\n", what, frames, goal,
                    frames >= 0 && frames <= goal ? "OK" : "ABOVE GOAL");
    } else {
        std::printf("%-40s %6.2f\n", what, frames);
    }
}

}  // namespace

int main() {
    auto segment = bench::makeSegment();
    ecmaster::attachVirtualWire("frames", segment);
    int expected = 0;
    if (ec_init("frames") <= 0 || !bench::bringToOp(expected)) {
        std::printf("frames_per_op: the segment did not reach OP\n");
        return 1;
    }
    const uint16 large = bench::kLargeSlave;
    const double brd = framesPer(*segment, [] {
        uint8_t w[2];
        return ec_BRD(0, ECT_REG_TYPE, 2, w, EC_TIMEOUTRET) == 3;
    });
    const double fprd = framesPer(*segment, [] {
        uint8_t w[2];
        return ec_FPRD(0x1001, ECT_REG_STADR, 2, w, EC_TIMEOUTRET) == 1;
    });
    const double cycle = framesPer(*segment, [expected] {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET) == expected;
    });
    const double upload =
        framesPer(*segment, [] { return bench::upload(bench::kBridge, 0x1018, 1, 4); });
    const double download = framesPer(*segment, [large] {
        const uint32_t v = 0x12345678;
        return ec_SDOwrite(large, bench::kSmallIndex, 1, FALSE, 4, &v, EC_TIMEOUTRXM) == 1;
    });
    const double initiate =
        framesPer(*segment, [large] { return bench::upload(large, bench::kSmallIndex, 1, 4); });
    const double largeUp = framesPer(*segment, [large] {
        return bench::upload(large, bench::kLargeIndex, 0, bench::kLargeSize);
    });
    const std::vector<uint8_t> text(bench::kLargeSize, 'q');
    const double largeDown = framesPer(*segment, [&] {
        return ec_SDOwrite(large, bench::kLargeIndex, 0, FALSE, static_cast<int>(text.size()),
                           text.data(), EC_TIMEOUTRXM) == 1;
    });
    // The first message of a normal transfer carries what its mailbox holds,
    // each segment as much again.
    const size_t rl = ec_slave[large].mbx_rl;
    const size_t wl = ec_slave[large].mbx_l;
    auto segments = [](size_t first, size_t room) {
        return static_cast<double>((bench::kLargeSize - first + room - 1) / room);
    };
    const double upSegments =
        segments(rl - ecat::sdo::NormalDataOffset, rl - ecat::sdo::SegmentDataOffset);
    const double downSegments =
        segments(wl - ecat::sdo::NormalDataOffset, wl - ecat::sdo::SegmentDataOffset);
    ec_close();
    ecmaster::detachVirtualWire("frames");
    if (brd < 0 || fprd < 0 || cycle < 0 || upload < 0 || download < 0 || initiate < 0 ||
        largeUp < 0 || largeDown < 0) {
        std::printf("frames_per_op: an operation failed\n");
        return 1;
    }
    std::printf("frames on the wire per operation (slaves that answer at once):\n");
    line("ec_BRD", brd, 1);
    line("ec_FPRD", fprd, 1);
    line("process-data cycle (LRW + DC time)", cycle, 1);
    line("SDO expedited upload", upload, 3);
    line("SDO expedited download", download, 3);
    line("SDO upload of 512 bytes", largeUp);
    std::printf("  per segment (%2.0f segments)                 %6.2f\n", upSegments,
                (largeUp - initiate) / upSegments);
    line("SDO download of 512 bytes", largeDown);
    std::printf("  per segment (%2.0f segments)                 %6.2f\n", downSegments,
                (largeDown - download) / downSegments);
    return 0;
}
