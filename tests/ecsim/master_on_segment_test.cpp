// The master against a simulated segment over the in-process wire: the I/O
// terminal's echo and the sync manager watchdog, seen from the master's side.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "ethercat.h"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

class MasterOnSegment : public ::testing::Test {
  protected:
    void SetUp() override {
        // Off while setting up: a slow machine must not trip it between cycles.
        bus.segment().setWatchdog(std::chrono::milliseconds(0));
        ASSERT_GT(ec_init(bus.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 2);
        ASSERT_GT(ec_config_map(iomap), 0);
        ec_configdc();
        ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
        expected = ec_group[0].outputsWKC * 2 + ec_group[0].inputsWKC;
        ec_slave[0].state = EC_STATE_OPERATIONAL;
        cycle();
        ec_writestate(0);
        ASSERT_TRUE(cycleUntil(
            [] { return ec_statecheck(0, EC_STATE_OPERATIONAL, 1000) == EC_STATE_OPERATIONAL; }));
    }
    int cycle() {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET);
    }
    // Cycles (every millisecond or so) until `done`, at most two seconds.
    bool cycleUntil(const std::function<bool()>& done) {
        return testsupport::WaitUntil(
            [&] {
                cycle();
                return done();
            },
            2, {.pause = std::chrono::milliseconds(1)});
    }

    testsupport::VirtualBus bus{"ZR12,IO"};
    char iomap[4096]{};
    int expected = 0;
};

TEST_F(MasterOnSegment, TerminalInputsEchoItsOutputsWithTheFullWorkingCounter) {
    EXPECT_EQ(expected, 6);
    ec_slave[2].outputs[0] = 0xA5;
    ec_slave[2].outputs[1] = 0x3C;
    EXPECT_TRUE(cycleUntil([] { return ec_slave[2].inputs[0] == 0xA5; }));
    EXPECT_EQ(ec_slave[2].inputs[1], 0x3C);
    EXPECT_EQ(cycle(), expected);
}

TEST_F(MasterOnSegment, StoppedCyclesTripTheWatchdogAndAnAcknowledgeBringsOpBack) {
    bus.segment().setWatchdog(std::chrono::milliseconds(50));
    // No process data for a while: both slaves fall to SAFE-OP with error.
    testsupport::WaitUntil(
        [] { return ec_readstate() == EC_STATE_SAFE_OP; }, 2,
        {.between = [this] { bus.segment().tick(); }, .pause = std::chrono::milliseconds(10)});
    for (int s = 1; s <= 2; ++s) {
        EXPECT_EQ(ec_slave[s].state, EC_STATE_SAFE_OP | EC_STATE_ERROR);
        EXPECT_EQ(ec_slave[s].ALstatuscode, 0x001B);
    }
    // The usual supervision: acknowledge, then ask for OP with outputs flowing.
    ec_slave[0].state = EC_STATE_SAFE_OP | EC_STATE_ACK;
    ec_writestate(0);
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    cycle();
    ec_writestate(0);
    EXPECT_TRUE(cycleUntil(
        [] { return ec_statecheck(0, EC_STATE_OPERATIONAL, 1000) == EC_STATE_OPERATIONAL; }));
    EXPECT_EQ(cycle(), expected);
}

}  // namespace
