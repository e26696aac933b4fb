// Datagram round trips through the master against raw frame ping-pongs on the
// same veth pair, in a private network namespace (needs root).
//
//   raw:     a raw socket on ecm0 sends a one-datagram frame; an echo on ecs0
//            sends it back; the sender waits for it blocked in recv, in poll
//            and recv, or spinning on a non-blocking recv. The fastest of the
//            three is the limit the master is held against.
//   master:  ec_BRD and ec_FPRD on ecm0 against the same echo: the master's own
//            cost on top of the link's.
//   segment: ec_FPRD against a simulated one-slave segment on ecs0 (what a
//            master meets in the wire tests), for information.
// Raw and master rounds alternate; each line prints the medians over the rounds
// and the median of the per-round ratios master/fastest raw (goal <= 1.05).
// The figures are taken as the tool runs (CPU idle states on); one line beside
// them repeats ec_BRD with idle states held off, which the tool never does.
// Run it under `taskset -c N` for the figures of one CPU.
#include <cstdio>
#include <memory>
#include <vector>

#include "ecsim/segment.hpp"
#include "ethercat.h"
#include "wire_bench.hpp"

namespace {

using bench::PrivateNetwork;
constexpr double kGoal = 1.05;

void report(const char* what, const bench::Comparison& c) {
    std::printf("%-34s %7.2f us   fastest raw %7.2f us   ratio %5.3f (goal <= %.2f) %s\n", what,
                c.op, c.raw(), c.ratio, kGoal, bench::verdict(c.ratio <= kGoal));
    std::printf("  raw: %s\n", bench::rawFigures(c).c_str());
}

bool brd() {
    uint8_t w[2];
    return ec_BRD(0, ECT_REG_TYPE, 2, w, 100000) >= 0;
}

bool fprd() {
    uint8_t w[2];
    return ec_FPRD(0x1001, ECT_REG_STADR, 2, w, 100000) >= 0;
}

}  // namespace

int main() {
    if (!bench::EnterPrivateNetwork("datagram_roundtrip")) return 0;
    const bench::Rounds rounds{15, 3, 700, 700};
    int failures = 0;  // round trips that got no answer (counted, not timed out of the run)
    bench::Comparison brdTime, fprdTime, brdIdleOff;
    {
        bench::Echo echo;  // the mirror only
        if (!echo.ok()) {
            std::printf("datagram_roundtrip: raw sockets unavailable; skipped\n");
            return 0;
        }
        brdTime = bench::compareWithRaw(echo, brd, rounds, failures);
        fprdTime = bench::compareWithRaw(echo, fprd, rounds, failures);
        const bench::LowLatency idleOff;
        brdIdleOff = bench::compareWithRaw(echo, brd, {7, 3, 700, 700}, failures);
    }
    bench::Comparison segment;
    {
        auto seg =
            std::make_shared<ecsim::Segment>(std::vector<ecsim::SlaveSpec>{ecsim::SlaveSpec{}});
        bench::Echo echo(seg);
        if (ec_init(PrivateNetwork::kMasterIf) > 0 && ec_config_init(FALSE) == 1) {
            ec_close();
            segment = bench::compareWithRaw(
                echo,
                [] {
                    uint8_t w[2];
                    return ec_FPRD(0x1001, ECT_REG_STADR, 2, w, 100000) == 1;
                },
                {5, 3, 700, 700}, failures);
        }
        ec_close();
    }
    if (!brdTime.ok() || !fprdTime.ok()) {
        std::printf("datagram_roundtrip: no figures\n");
        return 1;
    }
    if (failures > 0) std::printf("round trips without an answer: %d\n", failures);
    std::printf("round trips %s, medians of %d alternating rounds:\n",
                bench::cpuPlacement().c_str(), rounds.rounds);
    report("master ec_BRD, same echo", brdTime);
    report("master ec_FPRD, same echo", fprdTime);
    if (segment.ok()) {
        std::printf("%-34s %7.2f us   fastest raw %7.2f us   ratio %5.3f (for information)\n",
                    "master ec_FPRD, simulated 1-slave", segment.op, segment.raw(), segment.ratio);
    }
    if (brdIdleOff.ok()) {
        std::printf("%-34s %7.2f us   fastest raw %7.2f us   ratio %5.3f (for information)\n",
                    "ec_BRD, IDLE STATES HELD OFF", brdIdleOff.op, brdIdleOff.raw(),
                    brdIdleOff.ratio);
        std::printf("  raw: %s\n", bench::rawFigures(brdIdleOff).c_str());
    }
    return 0;
}
