// The simulated segment the SDO and process-data benchmarks run against: a ZR12,
// an I/O terminal and, third, a slave whose object dictionary holds a 512-byte
// object, brought to OP by the master as the tool does it. Its slaves answer a
// mailbox request in the frame that writes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/segment.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"

namespace bench {

inline constexpr uint16 kBridge = 1;  // a ZR12: 0x1018:01 is its vendor id
inline constexpr uint16 kLargeSlave = 3;
inline constexpr uint16 kLargeIndex = 0x2002;  // 512 bytes
inline constexpr uint16 kSmallIndex = 0x2000;  // subindex 1: 4 bytes
inline constexpr size_t kLargeSize = 512;

inline std::shared_ptr<ecsim::Segment> makeSegment() {
    std::string error;
    auto segment = std::make_shared<ecsim::Segment>(*ecsim::parseSlaveList("ZR12,IO,ZR02", &error));
    segment->setWatchdog(std::chrono::milliseconds(0));
    auto* large = testsupport::fitCoeDevices(*segment, {kLargeSlave})[0];
    large->od().addString(kLargeIndex, 0, std::string(kLargeSize, 'q'), ecsim::Access::ReadWrite);
    large->od().addU32(kSmallIndex, 1, 0x12345678);
    return segment;
}

// Configures the segment (the master's port open) and brings it to OP; sets
// the working counter a full process-data cycle returns. False on failure.
inline bool bringToOp(int& expectedWkc) {
    static uint8_t iomap[4096];
    if (ec_config_init(FALSE) != 3) return false;
    if (ec_config_map(iomap) <= 0) return false;
    ec_configdc();
    if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) return false;
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_writestate(0);
    for (int i = 0; i < 20; ++i) {
        ec_send_processdata();
        ec_receive_processdata(EC_TIMEOUTRET);
    }
    if (ec_statecheck(0, EC_STATE_OPERATIONAL, EC_TIMEOUTSTATE) != EC_STATE_OPERATIONAL) {
        return false;
    }
    expectedWkc = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
    return true;
}

// A frame of the shape of group 0's process-data cycle (one LRW over the image,
// the reference clock's system time behind it when DC is on), for a raw
// ping-pong to compare the cycle with. Empty when the image needs more frames.
inline std::vector<uint8_t> cycleShapedFrame() {
    const ec_groupt& g = ec_group[0];
    const uint32_t total = g.Obytes + g.Ibytes;
    ecat::FrameBuilder b;
    if (g.nsegments != 1 || g.blockLRW != 0 ||
        b.addLogical(ecat::Cmd::LRW, 0, g.logstartaddr, static_cast<uint16_t>(total),
                     {g.outputs, total}) < 0) {
        return {};
    }
    if (g.hasdc && g.DCnext > 0) {
        b.add(ecat::Cmd::FRMW, 0, ec_slave[g.DCnext].configadr, ECT_REG_DCSYSTIME, sizeof(int64));
    }
    const auto f = b.finish();
    return {f.begin(), f.end()};
}

// An upload of `size` bytes into a buffer of that size; true when all came.
inline bool upload(uint16 slave, uint16 index, uint8 sub, size_t size) {
    uint8_t data[1024];
    int got = static_cast<int>(size);
    return size <= sizeof data &&
           ec_SDOread(slave, index, sub, FALSE, &got, data, EC_TIMEOUTRXM) == 1 &&
           got == static_cast<int>(size);
}

}  // namespace bench
