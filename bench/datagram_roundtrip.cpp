// Datagram round trip through the master against a raw frame ping-pong on the
// same veth pair, in a private network namespace (needs root).
//
//   raw:     a raw socket on ecm0 sends a one-datagram frame; an echo on ecs0
//            sends it back; the sender waits for it (poll + recv).
//   master:  ec_BRD on ecm0 against the same echo: the master's own cost.
//   segment: ec_BRD against a simulated one-slave segment on ecs0 (what a
//            master meets in the wire tests), for information.
// Prints the median time per round trip of each and the median of the per-round
// ratios master/raw (goal <= 1.2). Raw and master rounds alternate so that load
// changes on the machine hit both alike.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "ecsim/segment.hpp"
#include "ethercat.h"
#include "wire_bench.hpp"

namespace {

using bench::Echo;
using bench::medianMicros;
using bench::PrivateNetwork;
using bench::RawPingPong;

}  // namespace

int main() {
    if (!PrivateNetwork::enter()) {
        std::printf("datagram_roundtrip: %s; skipped\n", PrivateNetwork::reason().c_str());
        return 0;
    }
    // Keep the CPUs out of deep idle states while measuring (PM QoS request,
    // held while the descriptor is open): wake-up latency would swamp both figures.
    const int qos = ::open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC);
    if (qos >= 0) {
        const int32_t zero = 0;
        if (::write(qos, &zero, sizeof zero) != sizeof zero) std::printf("(no PM QoS request)\n");
    }
    constexpr int kRounds = 7;  // alternating raw and master rounds
    constexpr int kBatches = 5;
    constexpr int kPerBatch = 1000;

    // Raw ping-pong and master against the same echo, in alternating rounds;
    // only one socket is open on the master's end at a time (an open socket that
    // is not read would queue the other's frames).
    int failures = 0;  // round trips that got no answer (counted, not timed out of the run)
    double raw = -1, master = -1, ratio = -1;
    {
        Echo echo;
        if (!echo.ok()) {
            std::printf("datagram_roundtrip: raw sockets unavailable; skipped\n");
            return 0;
        }
        auto masterTrip = [] {
            uint8_t w[2];
            return ec_BRD(0, 0, 2, w, 100000) >= 0;
        };
        std::vector<double> raws, masters, ratios;
        for (int round = 0; round < kRounds; ++round) {
            {
                RawPingPong ping;  // its socket is closed before the master opens the end
                if (!ping.ok()) {
                    std::printf("datagram_roundtrip: raw sockets unavailable; skipped\n");
                    return 0;
                }
                medianMicros(ping, 1, 500, &failures);  // warm up
                raws.push_back(medianMicros(ping, kBatches, kPerBatch, &failures));
            }
            if (ec_init(PrivateNetwork::kMasterIf) <= 0) {
                std::printf("datagram_roundtrip: ec_init failed\n");
                return 1;
            }
            medianMicros(masterTrip, 1, 500, &failures);
            masters.push_back(medianMicros(masterTrip, kBatches, kPerBatch, &failures));
            ec_close();
            ratios.push_back(masters.back() / raws.back());
        }
        if (ratios.size() == static_cast<size_t>(kRounds)) {
            std::sort(raws.begin(), raws.end());
            std::sort(masters.begin(), masters.end());
            std::sort(ratios.begin(), ratios.end());
            raw = raws[kRounds / 2];
            master = masters[kRounds / 2];
            ratio = ratios[kRounds / 2];
        }
    }
    double segment = -1;
    {
        auto seg =
            std::make_shared<ecsim::Segment>(std::vector<ecsim::SlaveSpec>{ecsim::SlaveSpec{}});
        Echo sim(seg);
        if (ec_init(PrivateNetwork::kMasterIf) > 0) {
            auto trip = [] {
                uint8_t w[2];
                return ec_BRD(0, 0, 2, w, 100000) == 1;
            };
            medianMicros(trip, 1, 500, &failures);
            segment = medianMicros(trip, kBatches, kPerBatch, &failures);
            ec_close();
        }
    }
    if (raw <= 0 || master <= 0) {
        std::printf("datagram_roundtrip: no figures (raw %.2f us, master %.2f us)\n", raw, master);
        return 1;
    }
    if (qos >= 0) ::close(qos);
    if (failures > 0) std::printf("round trips without an answer: %d\n", failures);
    std::printf("raw frame ping-pong on veth:        %8.2f us per round trip\n", raw);
    std::printf("master ec_BRD, same echo:           %8.2f us per round trip\n", master);
    std::printf("master ec_BRD, simulated 1-slave:   %8.2f us per round trip\n", segment);
    std::printf("ratio master/raw (median of %d rounds): %5.3f (goal <= 1.2) %s\n", kRounds, ratio,
                ratio <= 1.2 ? "OK" : "ABOVE GOAL");
    return 0;
}
