// ec_recover_slave and ec_reconfig_slave: a power-cycled slave is found again
// and brought back; a slave forced into SAFE-OP with error is reconfigured.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "ecmaster/codec.hpp"
#include "ecmaster/pre_op_bus.hpp"
#include "ecsim/slave.hpp"
#include "ethercat.h"
#include "support/virtual_bus.hpp"

namespace {

using namespace std::chrono;

// What ec_config_map would leave for the I/O terminal (slave 2): its process
// data sync managers from the SII and two FMMUs, so that it can go to SAFE-OP
// without the mapping code.
void mapIoTerminalByHand(uint16 slave) {
    ec_slavet& s = ec_slave[slave];
    ASSERT_NE(+s.SM[0].StartAddr, 0);  // outputs (SII SM category)
    ASSERT_NE(+s.SM[1].StartAddr, 0);  // inputs
    ec_fmmut out{};
    out.LogStart = 0;
    out.LogLength = s.SM[0].SMlength;
    out.LogEndbit = 7;
    out.PhysStart = s.SM[0].StartAddr;
    out.FMMUtype = 2;
    out.FMMUactive = 1;
    ec_fmmut in = out;
    in.LogStart = 0x100;
    in.LogLength = s.SM[1].SMlength;
    in.PhysStart = s.SM[1].StartAddr;
    in.FMMUtype = 1;
    s.FMMU[0] = out;
    s.FMMU[1] = in;
    s.FMMUunused = 2;
}

class Recovery : public PreOpBus {};

TEST_F(Recovery, SlaveInPlaceIsFoundAtOnce) {
    EXPECT_EQ(ec_recover_slave(2, EC_TIMEOUTRET3), 1);
}

TEST_F(Recovery, PowerCycledSlaveGetsItsAddressBack) {
    bus.segment().powerOff(3);
    EXPECT_EQ(ec_FPRDw(0x1003, ECT_REG_ALSTAT, EC_TIMEOUTRET), 0);
    EXPECT_EQ(ec_recover_slave(3, EC_TIMEOUTRET3), 0);  // not there
    bus.segment().powerOn(3);
    EXPECT_EQ(ec_FPRD(0x1003, ECT_REG_ALSTAT, 2, nullptr, EC_TIMEOUTRET), 0);  // address lost
    EXPECT_GT(ec_recover_slave(3, EC_TIMEOUTRET3), 0);
    EXPECT_EQ(ec_slave[3].configadr, 0x1003);
    EXPECT_EQ(bus.segment().slave(3).stationAddress(), 0x1003);
    EXPECT_EQ(ec_FPRD(0x1003, ECT_REG_ALSTAT, 2, nullptr, EC_TIMEOUTRET), 1);
    // Nothing is left at the temporary address.
    EXPECT_EQ(ec_FPRD(EC_TEMPNODE, ECT_REG_ALSTAT, 2, nullptr, EC_TIMEOUTRET), 0);
    // It came back in INIT; reconfiguration takes it up again, at least to
    // PRE-OP (how far a bridge goes without its process data mapped is the
    // bridge's business), and reports where it ended.
    EXPECT_EQ(ec_statecheck(3, EC_STATE_INIT, EC_TIMEOUTRET3), EC_STATE_INIT);
    const int st = ec_reconfig_slave(3, EC_TIMEOUTRET3);
    EXPECT_GE(st, EC_STATE_PRE_OP);
    EXPECT_EQ(st, ec_slave[3].state & 0x0F);
    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[3].state & 0x0F, st);
}

TEST_F(Recovery, TheSlaveRecordKeepsItsAddressWhileTheSlaveIsChecked) {
    // Other threads (process data, SDOs) address the slave by its record while
    // a recovery runs: the record must never show the temporary address.
    bus.segment().powerOff(3);
    bus.segment().powerOn(3);
    std::atomic<bool> done{false};
    std::atomic<int> wrongSeen{0};
    std::thread watcher([&] {
        while (!done) {
            if (ec_slave[3].configadr != 0x1003) ++wrongSeen;
        }
    });
    const int rval = ec_recover_slave(3, EC_TIMEOUTRET3);
    done = true;
    watcher.join();
    EXPECT_GT(rval, 0);
    EXPECT_EQ(wrongSeen, 0);
    EXPECT_EQ(bus.segment().slave(3).stationAddress(), 0x1003);
}

TEST_F(Recovery, PowerCycledTerminalIsReconfiguredToSafeOp) {
    mapIoTerminalByHand(2);
    EXPECT_EQ(ec_reconfig_slave(2, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    bus.segment().powerOff(2);
    bus.segment().powerOn(2);
    EXPECT_GT(ec_recover_slave(2, EC_TIMEOUTRET3), 0);
    EXPECT_EQ(ec_reconfig_slave(2, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_SAFE_OP);
    // The FMMUs are back in the slave.
    uint8_t f[16];
    ASSERT_EQ(ec_FPRD(0x1002, ECT_REG_FMMU0, 16, f, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(f, &ec_slave[2].FMMU[0], 16));
}

TEST_F(Recovery, SafeOpWithErrorIsReconfigured) {
    mapIoTerminalByHand(2);
    ASSERT_EQ(ec_reconfig_slave(2, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    bus.segment().forceSafeOpError(2, 0x001B);
    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_SAFE_OP | EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0x001B);
    EXPECT_EQ(ec_reconfig_slave(2, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_SAFE_OP);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0);
}

TEST_F(Recovery, ReplacedSlaveIsNotTakenForTheOldOne) {
    // Pretend slave 2 was something else: its identity no longer matches.
    ec_slave[2].eep_id ^= 0x1;
    bus.segment().powerOff(2);
    bus.segment().powerOn(2);
    EXPECT_EQ(ec_recover_slave(2, EC_TIMEOUTRET3), 0);
    EXPECT_EQ(ec_slave[2].configadr, 0x1002);
    EXPECT_EQ(bus.segment().slave(2).stationAddress(), 0);
}

TEST_F(Recovery, ReconfigOfAnAbsentSlaveIsZero) {
    bus.segment().powerOff(3);
    const auto t0 = steady_clock::now();
    EXPECT_EQ(ec_reconfig_slave(3, EC_TIMEOUTRET3), 0);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(300));
}

}  // namespace

namespace {

// With the real mapping: every slave in SAFE-OP, one forced into SAFE-OP with
// error is brought back by ec_reconfig_slave, which rewrites its FMMUs.
TEST(RecoveryMapped, ReconfigAfterConfigMap) {
    testsupport::VirtualBus bus("ZR12,IO,ZR02");
    ASSERT_GT(ec_init(bus.name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 3);
    static uint8_t iomap[4096];
    ASSERT_GT(ec_config_map(iomap), 0);
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    for (uint16 s : {uint16{1}, uint16{2}}) {
        bus.segment().forceSafeOpError(s, 0x001B);
        EXPECT_EQ(ec_statecheck(s, EC_STATE_SAFE_OP, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
        EXPECT_EQ(ec_slave[s].state, EC_STATE_SAFE_OP | EC_STATE_ERROR);
        EXPECT_EQ(ec_reconfig_slave(s, EC_TIMEOUTRET3), EC_STATE_SAFE_OP) << s;
        EXPECT_EQ(ec_slave[s].state, EC_STATE_SAFE_OP) << s;
    }
    // Power-cycled bridge: found again, reconfigured, and its FMMUs are back.
    bus.segment().powerOff(3);
    bus.segment().powerOn(3);
    ASSERT_GT(ec_recover_slave(3, EC_TIMEOUTRET3), 0);
    EXPECT_EQ(ec_reconfig_slave(3, EC_TIMEOUTRET3), EC_STATE_SAFE_OP);
    uint8_t f[16];
    ASSERT_EQ(ec_FPRD(0x1003, ECT_REG_FMMU0, 16, f, EC_TIMEOUTRET), 1);
    EXPECT_EQ(0, std::memcmp(f, &ec_slave[3].FMMU[0], 16));
    EXPECT_EQ(ec_readstate(), EC_STATE_SAFE_OP);
}

}  // namespace
