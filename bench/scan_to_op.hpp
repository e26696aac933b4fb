// A scan as the tool makes one, timed: ec_config_init, the process-data map, the
// clocks, SAFE-OP, then OP with process data flowing. What went wrong is said in
// words, so that a stress run can show the failures it met.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "ethercat.h"
#include "support/netns.hpp"

namespace bench {

// Starts `sim` (ZR12,IO,ZR02) in the private network and waits until the
// master counts its slaves; the master's port is closed again. False, after
// saying why, when it did not come up.
inline bool startScanSegment(const char* program, testsupport::Zrsim& sim) {
    std::string error;
    if (!sim.start(&error)) {
        std::printf("%s: zrsim did not start: %s\n", program, error.c_str());
        return false;
    }
    const bool counted = testsupport::waitForSlaves(testsupport::PrivateNetwork::kMasterIf, 3,
                                                    std::chrono::seconds(10));
    ec_close();
    if (!counted) std::printf("%s: zrsim's slaves did not answer\n", program);
    return counted;
}

struct ScanOutcome {
    bool ok = false;
    std::string failure;  // empty when ok
    double configInitMs = 0;
    double totalMs = 0;  // ec_config_init to OP
};

// Brings `slaves` slaves to OP with `mappedBytes` bytes of process data, the
// master's port already open.
inline ScanOutcome scanToOp(int slaves, int mappedBytes) {
    using Clock = std::chrono::steady_clock;
    auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    static uint8_t iomap[4096];
    ScanOutcome out;
    ec_errort noted;
    while (ec_poperror(&noted)) {
    }
    const auto start = Clock::now();
    auto fail = [&](const std::string& why) {
        out.totalMs = ms(Clock::now() - start);
        out.failure = why;
        // What the master noted on the way, and what it made of each slave.
        for (int i = 0; i < 4 && ec_iserror(); ++i)
            out.failure += "; " + std::string(ec_elist2string());
        for (int s = 1; s <= ec_slavecount && s < EC_MAXSLAVE; ++s) {
            const ec_slavet& e = ec_slave[s];
            char text[96];
            std::snprintf(text, sizeof text, "; slave %d at 0x%04X mailbox %u, %u/%u bits", s,
                          unsigned{e.configadr}, unsigned{e.mbx_l}, unsigned{e.Obits},
                          unsigned{e.Ibits});
            out.failure += text;
        }
        return out;
    };
    const int found = ec_config_init(FALSE);
    out.configInitMs = ms(Clock::now() - start);
    if (found != slaves) return fail("ec_config_init found " + std::to_string(found));
    const int size = ec_config_map(iomap);
    if (size != mappedBytes) return fail("mapped " + std::to_string(size) + " bytes");
    ec_configdc();
    if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) {
        return fail("no SAFE-OP");
    }
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_send_processdata();
    ec_receive_processdata(EC_TIMEOUTRET);
    ec_writestate(0);
    const int expectedWkc = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
    const auto deadline = Clock::now() + std::chrono::microseconds(EC_TIMEOUTSTATE);
    bool op = false;
    while (!op && Clock::now() < deadline) {
        ec_send_processdata();
        const int wkc = ec_receive_processdata(EC_TIMEOUTRET);
        op =
            wkc == expectedWkc && ec_statecheck(0, EC_STATE_OPERATIONAL, 0) == EC_STATE_OPERATIONAL;
    }
    out.totalMs = ms(Clock::now() - start);
    if (!op) {
        ec_readstate();
        std::string states;
        for (int s = 1; s <= ec_slavecount; ++s) {
            char text[48];
            std::snprintf(text, sizeof text, " %d:0x%02X/0x%04X", s, unsigned{ec_slave[s].state},
                          unsigned{ec_slave[s].ALstatuscode});
            states += text;
        }
        return fail("no OP (state/AL status" + states + ")");
    }
    out.ok = true;
    return out;
}

}  // namespace bench
