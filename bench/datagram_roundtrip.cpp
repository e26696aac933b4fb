// Datagram round trips through the master against a raw frame ping-pong on the
// same veth pair, in a private network namespace (needs root).
//
//   raw:     a raw socket on ecm0 sends a one-datagram frame; an echo on ecs0
//            sends it back; the sender waits for it (poll + recv).
//   master:  ec_BRD and ec_FPRD on ecm0 against the same echo: the master's own
//            cost on top of the link's.
//   segment: ec_FPRD against a simulated one-slave segment on ecs0 (what a
//            master meets in the wire tests), for information.
// Raw and master rounds alternate; each line prints the medians over the rounds
// and the median of the per-round ratios master/raw (goal <= 1.05).
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
    std::printf("%-34s %7.2f us   raw %7.2f us   ratio %5.3f (goal <= %.2f) %s\n", what, c.op,
                c.raw, c.ratio, kGoal, bench::verdict(c.ratio <= kGoal));
}

}  // namespace

int main() {
    if (!bench::EnterPrivateNetwork("datagram_roundtrip")) return 0;
    const bench::LowLatency latency;
    const bench::Rounds rounds{15, 3, 700, 700};
    int failures = 0;  // round trips that got no answer (counted, not timed out of the run)
    bench::Comparison brd, fprd;
    {
        bench::Echo echo;  // the mirror only
        if (!echo.ok()) {
            std::printf("datagram_roundtrip: raw sockets unavailable; skipped\n");
            return 0;
        }
        brd = bench::compareWithRaw(
            echo,
            [] {
                uint8_t w[2];
                return ec_BRD(0, ECT_REG_TYPE, 2, w, 100000) >= 0;
            },
            rounds, failures);
        fprd = bench::compareWithRaw(
            echo,
            [] {
                uint8_t w[2];
                return ec_FPRD(0x1001, ECT_REG_STADR, 2, w, 100000) >= 0;
            },
            rounds, failures);
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
    if (!brd.ok() || !fprd.ok()) {
        std::printf("datagram_roundtrip: no figures\n");
        return 1;
    }
    if (failures > 0) std::printf("round trips without an answer: %d\n", failures);
    std::printf("round trips, medians of %d alternating rounds:\n", rounds.rounds);
    report("master ec_BRD, same echo", brd);
    report("master ec_FPRD, same echo", fprd);
    if (segment.ok()) {
        std::printf("%-34s %7.2f us   raw %7.2f us   ratio %5.3f (for information)\n",
                    "master ec_FPRD, simulated 1-slave", segment.op, segment.raw, segment.ratio);
    }
    return 0;
}
