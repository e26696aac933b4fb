// Distributed clocks on simulated segments: the reference clock, offsets and
// propagation delays written to the slaves, the system time riding in every
// cycle, and SYNC0 set-up.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <limits>
#include <map>
#include <thread>

#include "ecmaster/codec.hpp"
#include "ecmaster/virtual_wire.hpp"
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

// Between the master and a segment: answers the master's reads of chosen DC
// registers (latched times, local and system time) with forged values, as a
// faulty slave may, at the edges of their types.
class ForgedClocks : public ecmaster::FrameProcessor {
  public:
    explicit ForgedClocks(ecsim::Segment& segment) : segment_(segment) {}
    ecmaster::Delivery process(std::span<uint8_t> frame) override {
        const ecmaster::Delivery delivery = segment_.process(frame);
        for (ecat::Datagram& d : ecat::parseFrame(frame).datagrams) {
            const auto forged = values_.find({d.adp(), d.ado()});
            if (d.cmd() == ecat::Cmd::FPRD && forged != values_.end() &&
                forged->second.size() == d.length()) {
                std::copy(forged->second.begin(), forged->second.end(), d.data());
            }
        }
        return delivery;
    }
    // Set before the master opens the wire, or from the master's thread.
    void forge32(uint16 slave, uint16_t address, uint32_t value) {
        std::vector<uint8_t> bytes(4);
        ecat::put32(bytes.data(), value);
        values_[{ec_slave[slave].configadr, address}] = bytes;
    }
    void forge64(uint16 slave, uint16_t address, int64_t value) {
        std::vector<uint8_t> bytes(8);
        ecat::put64(bytes.data(), static_cast<uint64_t>(value));
        values_[{ec_slave[slave].configadr, address}] = bytes;
    }

  private:
    ecsim::Segment& segment_;
    std::map<std::pair<uint16_t, uint16_t>, std::vector<uint8_t>> values_;
};

class ExtremeDc : public Dc {
  protected:
    void SetUp() override {
        bus_ = std::make_unique<testsupport::VirtualBus>("ZR12,ZR02,ZR01");
        forged_ = std::make_shared<ForgedClocks>(bus_->segment());
        ecmaster::attachVirtualWire(bus_->name(), forged_);
        ASSERT_GT(ec_init(bus_->name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 3);
    }
    std::shared_ptr<ForgedClocks> forged_;
};

constexpr int64_t kMinTime = std::numeric_limits<int64_t>::min();
constexpr int64_t kMaxTime = std::numeric_limits<int64_t>::max();

// The offset, the delays and the SYNC0 start are computed without overflow
// (the sanitizer build fails on any) and as the 32- and 64-bit counters wrap.
TEST_F(ExtremeDc, LatchedTimesAtTheEdgesOfTheirTypesOverflowNothing) {
    for (uint16 s = 1; s <= 3; ++s) forged_->forge64(s, ECT_REG_DCSOF, kMinTime);
    // Slave 2 entered at port 1 (0x80000001 is earlier than 0), with the
    // longest way round through it, behind the shortest at slave 1.
    forged_->forge32(1, ECT_REG_DCTIME0, 0);
    forged_->forge32(1, ECT_REG_DCTIME1, 5);
    forged_->forge32(2, ECT_REG_DCTIME0, 0);
    forged_->forge32(2, ECT_REG_DCTIME1, 0x80000001);
    ASSERT_TRUE(ec_configdc());
    for (size_t p = 1; p <= 3; ++p) {
        const uint64_t expected = static_cast<uint64_t>(nowSince2000Ns()) + (uint64_t{1} << 63);
        const auto offset = static_cast<uint64_t>(registerI64(p, ECT_REG_DCSYSOFFSET));
        EXPECT_LT(std::llabs(static_cast<int64_t>(offset - expected)), 1000000000LL) << p;
    }
    EXPECT_EQ(ec_slave[2].pdelay, (int64_t{5} + 0x7FFFFFFF) / 2);
    EXPECT_EQ(registerI32(3, ECT_REG_DCSYSDELAY), ec_slave[3].pdelay);

    forged_->forge64(1, ECT_REG_DCSYSTIME, kMaxTime);
    ec_dcsync0(1, TRUE, 1000000, 20000);
    const auto start = static_cast<uint64_t>(registerI64(1, ECT_REG_DCSTART0));
    EXPECT_EQ(start % 1000000, 20000u);
    EXPECT_GE(start - static_cast<uint64_t>(kMaxTime), 100000000u);
    ec_dcsync0(1, FALSE, 0, -500);
    EXPECT_EQ(static_cast<uint64_t>(registerI64(1, ECT_REG_DCSTART0)),
              static_cast<uint64_t>(kMaxTime) + 100000000 - 500);
}

// Slave 1 as a junction with all four ports, slaves 2 and 3 on two of its
// branches; its latches put one branch's port half the counter away from the
// entry port's.
TEST_F(ExtremeDc, ABranchHalfTheCounterAwayOverflowsNothing) {
    ec_slave[1].activeports = 0x0F;
    ec_slave[1].topology = 4;
    for (uint16 s : {uint16{2}, uint16{3}}) {
        ec_slave[s].activeports = 0x01;
        ec_slave[s].topology = 1;
        ec_slave[s].parent = 1;
    }
    forged_->forge32(1, ECT_REG_DCTIME0, 0);
    forged_->forge32(1, ECT_REG_DCTIME1, 0x10);
    forged_->forge32(1, ECT_REG_DCTIME2, 0xF0000000);  // the entry port
    forged_->forge32(1, ECT_REG_DCTIME3, 0x70000000);
    ASSERT_TRUE(ec_configdc());
    EXPECT_EQ(ec_slave[1].entryport, 2);
    EXPECT_EQ(registerI32(3, ECT_REG_DCSYSDELAY), ec_slave[3].pdelay);
}

}  // namespace
