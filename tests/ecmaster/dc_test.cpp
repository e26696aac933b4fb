// Distributed clocks on simulated segments: the reference clock, offsets and
// propagation delays written to the slaves, the system time riding in every
// cycle, and SYNC0 set-up.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"
#include "support/virtual_bus.hpp"

namespace {

using testsupport::slaveMemory;

int64_t nowSince2000Ns() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<int64_t>(ts.tv_sec) - 946684800) * 1000000000 + ts.tv_nsec;
}

class Dc : public ::testing::Test {
  protected:
    void start(const std::string& list, std::initializer_list<size_t> coePositions) {
        bus_ = std::make_unique<testsupport::VirtualBus>(list);
        testsupport::fitCoeDevices(bus_->segment(), coePositions);
        ASSERT_GT(ec_init(bus_->name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), static_cast<int>(bus_->segment().slaveCount()));
    }
    int64_t registerI64(size_t position, uint16_t address) {
        return static_cast<int64_t>(
            ecat::get64(slaveMemory(bus_->segment(), position, address, 8).data()));
    }
    int32_t registerI32(size_t position, uint16_t address) {
        return static_cast<int32_t>(
            ecat::get32(slaveMemory(bus_->segment(), position, address, 4).data()));
    }
    std::unique_ptr<testsupport::VirtualBus> bus_;
    uint8_t iomap_[4096] = {};
};

TEST_F(Dc, TheFirstDcSlaveIsTheReferenceAndTheOthersGetTheirDelays) {
    start("IO,ZR12,ZR02,ZR01", {});
    ASSERT_TRUE(ec_configdc());
    EXPECT_FALSE(ec_slave[1].hasdc);
    EXPECT_EQ(ec_slave[0].DCnext, 2);
    EXPECT_EQ(ec_group[0].DCnext, 2);
    EXPECT_TRUE(ec_group[0].hasdc);
    EXPECT_EQ(ec_slave[2].DCnext, 3);
    EXPECT_EQ(ec_slave[3].DCprevious, 2);
    EXPECT_EQ(ec_slave[4].DCprevious, 3);

    EXPECT_EQ(ec_slave[2].pdelay, 0);
    EXPECT_EQ(registerI32(2, ECT_REG_DCSYSDELAY), 0) << "the reference clock gets no delay";
    EXPECT_GT(ec_slave[3].pdelay, 0);
    EXPECT_GT(ec_slave[4].pdelay, ec_slave[3].pdelay) << "further down the line";
    EXPECT_EQ(registerI32(3, ECT_REG_DCSYSDELAY), ec_slave[3].pdelay);
    EXPECT_EQ(registerI32(4, ECT_REG_DCSYSDELAY), ec_slave[4].pdelay);
    // Identical slaves on identical cables: every hop adds the same delay.
    EXPECT_EQ(ec_slave[4].pdelay, 2 * ec_slave[3].pdelay);

    // Offsets bring every slave's system time to the master's time since 2000.
    for (size_t p = 2; p <= 4; ++p) {
        int64_t system = 0;
        ASSERT_EQ(ec_FPRD(ec_slave[p].configadr, ECT_REG_DCSYSTIME, 8, &system, EC_TIMEOUTRET), 1);
        EXPECT_LT(std::llabs(system - nowSince2000Ns()), 1000000000LL) << "slave " << p;
        EXPECT_NE(registerI64(p, ECT_REG_DCSYSOFFSET), 0);
    }
}

TEST_F(Dc, ASegmentWithoutDcSaysSoAndCyclesWithoutTheTimeDatagram) {
    start("IO,IO", {});
    EXPECT_FALSE(ec_configdc());
    EXPECT_FALSE(ec_group[0].hasdc);
    ASSERT_EQ(ec_config_map(iomap_), 8);
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    ec_DCtime = 0;
    ec_send_processdata();
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUTRET),
              2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC);
    EXPECT_EQ(ec_DCtime, 0);
}

TEST_F(Dc, EveryCycleBringsTheReferenceTime) {
    start("IO,ZR12,ZR02", {2, 3});
    ASSERT_GT(ec_config_map(iomap_), 0);
    ASSERT_TRUE(ec_configdc());
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    const int expected = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
    ec_send_processdata();
    ASSERT_EQ(ec_receive_processdata(EC_TIMEOUTRET), expected) << "the time datagram adds nothing";
    const int64_t first = ec_DCtime;
    EXPECT_LT(std::llabs(first - nowSince2000Ns()), 1000000000LL);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ec_send_processdata();
    ASSERT_EQ(ec_receive_processdata(EC_TIMEOUTRET), expected);
    EXPECT_GT(ec_DCtime, first);
}

TEST_F(Dc, Sync0StartsOnAWholeCycleAfterTheDelay) {
    start("ZR12", {});
    ASSERT_TRUE(ec_configdc());
    int64_t before = 0;
    ec_FPRD(ec_slave[1].configadr, ECT_REG_DCSYSTIME, 8, &before, EC_TIMEOUTRET);
    ec_dcsync0(1, TRUE, 1000000, 20000);
    EXPECT_EQ(slaveMemory(bus_->segment(), 1, ECT_REG_DCSYNCACT, 1)[0], 3);
    EXPECT_EQ(registerI32(1, ECT_REG_DCCYCLE0), 1000000);
    const int64_t startTime = registerI64(1, ECT_REG_DCSTART0);
    EXPECT_EQ(startTime % 1000000, 20000);
    EXPECT_GT(startTime, before + 100000000);
    EXPECT_TRUE(ec_slave[1].DCactive);
    EXPECT_EQ(ec_slave[1].DCcycle, 1000000);

    ec_dcsync0(1, FALSE, 0, 500);  // no cycle: no division, just the delay
    EXPECT_EQ(slaveMemory(bus_->segment(), 1, ECT_REG_DCSYNCACT, 1)[0], 0);
    EXPECT_GT(registerI64(1, ECT_REG_DCSTART0), before + 100000000);
    EXPECT_FALSE(ec_slave[1].DCactive);
}

}  // namespace
