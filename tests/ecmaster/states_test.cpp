// ec_readstate, ec_writestate, ec_statecheck: accepted and refused requests,
// the error bit and AL status code, acknowledging, and lost frames.
#include <gtest/gtest.h>

#include <chrono>

#include "ecmaster/pre_op_bus.hpp"
#include "ethercat.h"
#include "support/virtual_bus.hpp"

namespace {

using namespace std::chrono;

class States : public PreOpBus {};

TEST_F(States, ReadStateWhenAllAgree) {
    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
    for (int s = 0; s <= 3; ++s) {
        EXPECT_EQ(ec_slave[s].state, EC_STATE_PRE_OP) << s;
        EXPECT_EQ(ec_slave[s].ALstatuscode, 0) << s;
    }
}

TEST_F(States, WriteStateToAllAndCheck) {
    ec_slave[0].state = EC_STATE_INIT;
    EXPECT_EQ(ec_writestate(0), 3);  // every slave took the broadcast
    EXPECT_EQ(ec_statecheck(0, EC_STATE_INIT, EC_TIMEOUTSTATE), EC_STATE_INIT);
    EXPECT_EQ(ec_slave[0].state, EC_STATE_INIT);
    EXPECT_EQ(ec_readstate(), EC_STATE_INIT);
}

TEST_F(States, MixedStatesAreReadOneByOne) {
    ec_slave[2].state = EC_STATE_INIT;
    EXPECT_EQ(ec_writestate(2), 1);
    EXPECT_EQ(ec_statecheck(2, EC_STATE_INIT, EC_TIMEOUTSTATE), EC_STATE_INIT);
    // The broadcast reads INIT|PRE-OP = 3, which is not taken for BOOT.
    EXPECT_EQ(ec_readstate(), EC_STATE_INIT);
    EXPECT_EQ(ec_slave[1].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_INIT);
    EXPECT_EQ(ec_slave[3].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[0].state, EC_STATE_INIT);
    // Mixed states never match a check of all slaves.
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, 20000), EC_STATE_INIT | EC_STATE_PRE_OP);
}

TEST_F(States, RefusedRequestSetsErrorAndCodeUntilAcknowledged) {
    ec_slave[2].state = EC_STATE_OPERATIONAL;  // PRE-OP -> OP is not a valid step
    EXPECT_EQ(ec_writestate(2), 1);
    const auto t0 = steady_clock::now();
    EXPECT_EQ(ec_statecheck(2, EC_STATE_OPERATIONAL, 50000), EC_STATE_PRE_OP);
    EXPECT_GE(steady_clock::now() - t0, milliseconds(50));
    EXPECT_LT(steady_clock::now() - t0, milliseconds(400));
    EXPECT_EQ(ec_slave[2].state, EC_STATE_PRE_OP | EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0x0011);
    EXPECT_STREQ(ec_ALstatuscode2string(ec_slave[2].ALstatuscode),
                 "Invalid requested state change");

    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_PRE_OP | EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0x0011);
    EXPECT_EQ(ec_slave[1].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[0].ALstatuscode, 0x0011);
    // The broadcast check of all slaves sees the error bit too.
    ec_statecheck(0, EC_STATE_PRE_OP, 10000);
    EXPECT_EQ(ec_slave[0].state, EC_STATE_PRE_OP | EC_STATE_ERROR);

    ec_slave[2].state = EC_STATE_PRE_OP | EC_STATE_ACK;
    EXPECT_EQ(ec_writestate(2), 1);
    EXPECT_EQ(ec_statecheck(2, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].ALstatuscode, 0);
    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[0].ALstatuscode, 0);
}

TEST_F(States, BootIsRefusedWithItsCode) {
    ec_slave[1].state = EC_STATE_BOOT;
    ec_writestate(1);
    EXPECT_EQ(ec_statecheck(1, EC_STATE_BOOT, 20000), EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[1].state & EC_STATE_ERROR, EC_STATE_ERROR);
    EXPECT_EQ(ec_slave[1].ALstatuscode, 0x0013);
}

TEST_F(States, StatecheckOfAnUnknownSlaveIsZeroAtOnce) {
    const auto t0 = steady_clock::now();
    EXPECT_EQ(ec_statecheck(4, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), 0);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(50));
}

TEST_F(States, LostFramesEndInTimeouts) {
    bus.segment().setDropRate(1.0);
    auto t0 = steady_clock::now();
    EXPECT_EQ(ec_statecheck(1, EC_STATE_PRE_OP, 30000), 0);
    auto took = steady_clock::now() - t0;
    EXPECT_GE(took, milliseconds(30));
    EXPECT_LT(took, milliseconds(300));
    EXPECT_EQ(ec_slave[1].state, 0);

    t0 = steady_clock::now();
    EXPECT_EQ(ec_readstate(), 0);  // nobody answered: state NONE
    took = steady_clock::now() - t0;
    EXPECT_LT(took, milliseconds(300));
    for (int s = 1; s <= 3; ++s) EXPECT_EQ(ec_slave[s].state, 0) << s;

    EXPECT_EQ(ec_writestate(0), EC_NOFRAME);
    EXPECT_EQ(ec_writestate(1), EC_NOFRAME);
    bus.segment().setDropRate(0.0);
    EXPECT_EQ(ec_readstate(), EC_STATE_PRE_OP);
}

TEST_F(States, SlavesBehindAPowerCutReadAsNone) {
    bus.segment().powerOff(2);
    EXPECT_EQ(ec_readstate(), 0);
    EXPECT_EQ(ec_slave[1].state, EC_STATE_PRE_OP);
    EXPECT_EQ(ec_slave[2].state, 0);
    EXPECT_EQ(ec_slave[3].state, 0);
}

}  // namespace
