// Process-data mapping on simulated segments: sizes from CoE and SII, the
// layout of the image, the working counter figures and the FMMUs the slaves get.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ecmaster/codec.hpp"
#include "ecmaster/extras.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"
#include "support/virtual_bus.hpp"

namespace {

using testsupport::slaveMemory;

struct Placement {
    uint16_t obits, ibits;
    long out, in;  // byte offsets in the image; -1 = none
};

class ConfigMap : public ::testing::Test {
  protected:
    void start(const std::string& list, std::initializer_list<size_t> coePositions,
               uint16_t bits = testsupport::kBridgeBits) {
        bus_ = std::make_unique<testsupport::VirtualBus>(list);
        devices_ = testsupport::fitCoeDevices(bus_->segment(), coePositions, bits);
        ASSERT_GT(ec_init(bus_->name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), static_cast<int>(bus_->segment().slaveCount()));
    }
    void TearDown() override {
        ec_errort e;
        while (ec_poperror(&e)) {
        }
    }
    long offset(const uint8_t* p) const { return p == nullptr ? -1 : p - iomap_; }
    void expectPlacements(std::initializer_list<Placement> expected) {
        uint16_t slave = 1;
        for (const Placement& p : expected) {
            SCOPED_TRACE("slave " + std::to_string(slave));
            EXPECT_EQ(ec_slave[slave].Obits, p.obits);
            EXPECT_EQ(ec_slave[slave].Ibits, p.ibits);
            EXPECT_EQ(offset(ec_slave[slave].outputs), p.out);
            EXPECT_EQ(offset(ec_slave[slave].inputs), p.in);
            ++slave;
        }
    }
    // The FMMU the simulated slave holds in its registers. (Fields of the packed
    // records are compared as values, "+x", never bound to references.)
    ec_fmmut fmmu(size_t position, int n) {
        const auto raw =
            slaveMemory(bus_->segment(), position, ECT_REG_FMMU0 + 16 * n, sizeof(ec_fmmut));
        ec_fmmut f;
        std::memcpy(&f, raw.data(), sizeof f);
        return f;
    }

    std::unique_ptr<testsupport::VirtualBus> bus_;
    std::vector<testsupport::CoeTestDevice*> devices_;
    uint8_t iomap_[4096] = {};
};

TEST_F(ConfigMap, TerminalsAndBridgesGetOutputsFirstThenInputs) {
    start("IO,ZR12,IO,ZR02", {2, 4});
    ASSERT_EQ(ec_config_map(iomap_), 104);
    expectPlacements({{16, 16, 0, 52}, {192, 192, 2, 54}, {16, 16, 26, 78}, {192, 192, 28, 80}});
    EXPECT_EQ(ec_slave[2].Obytes, 24u);
    EXPECT_EQ(ec_slave[1].Ibytes, 2u);
    EXPECT_EQ(ec_group[0].Obytes, 52u);
    EXPECT_EQ(ec_group[0].Ibytes, 52u);
    EXPECT_EQ(ec_slave[0].outputs, iomap_);
    EXPECT_EQ(ec_slave[0].inputs, iomap_ + 52);
    EXPECT_EQ(ec_group[0].outputsWKC, 4);
    EXPECT_EQ(ec_group[0].inputsWKC, 4);
    EXPECT_EQ(ec_group[0].nsegments, 1);
    EXPECT_EQ(ec_group[0].IOsegment[0], 104u);

    // What the slaves were given: the bridge at position 2 maps logical 2..25
    // onto its output sync manager and 54..77 onto its input one.
    const ec_fmmut out = fmmu(2, 0);
    EXPECT_EQ(+out.LogStart, 2u);
    EXPECT_EQ(+out.LogLength, 24);
    EXPECT_EQ(+out.PhysStart, 0x1100);
    EXPECT_EQ(+out.FMMUtype, 2);
    EXPECT_EQ(+out.FMMUactive, 1);
    const ec_fmmut in = fmmu(2, 1);
    EXPECT_EQ(+in.LogStart, 54u);
    EXPECT_EQ(+in.PhysStart, 0x1180);
    EXPECT_EQ(+in.FMMUtype, 1);
    EXPECT_EQ(+fmmu(3, 1).LogStart, 78u);
    const auto sm2 = slaveMemory(bus_->segment(), 2, ECT_REG_SM2, 8);
    EXPECT_EQ(ecat::get16(&sm2[2]), 24) << "output sync manager length";
    EXPECT_EQ(sm2[6] & 1, 1) << "enabled";

    EXPECT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
}

TEST_F(ConfigMap, TheBridgeModelIsSizedByItsOwnObjects) {
    start("IO,ZR12,IO,ZR02", {});
    ASSERT_EQ(ec_config_map(iomap_), 104);
    expectPlacements({{16, 16, 0, 52}, {192, 192, 2, 54}, {16, 16, 26, 78}, {192, 192, 28, 80}});
    EXPECT_FALSE(ec_iserror());
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    ec_send_processdata();
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUTRET), 12);
}

TEST_F(ConfigMap, ACouplerWithoutProcessDataTakesNoPlace) {
    start("CPL,ZR01", {2});
    ec_slave[2].CoEdetails &= static_cast<uint8>(~ECT_COEDET_SDOCA);  // one SDO per entry
    ASSERT_EQ(ec_config_map(iomap_), 48);
    expectPlacements({{0, 0, -1, -1}, {192, 192, 0, 24}});
    EXPECT_EQ(ec_group[0].outputsWKC, 1);
    EXPECT_EQ(ec_group[0].inputsWKC, 1);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
}

TEST_F(ConfigMap, ABridgeWithoutMappingObjectsIsSizedFromItsSii) {
    bus_ = std::make_unique<testsupport::VirtualBus>("ZR01,ZR12");
    auto bare = std::make_unique<testsupport::CoeTestDevice>();  // empty dictionary
    bus_->segment().replaceDevice(1, std::move(bare));
    testsupport::fitCoeDevices(bus_->segment(), {2});
    ASSERT_GT(ec_init(bus_->name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 2);
    ASSERT_EQ(ec_config_map(iomap_), 96);
    expectPlacements({{192, 192, 0, 48}, {192, 192, 24, 72}});
    const std::string text = ec_elist2string();
    EXPECT_NE(text.find("SDO slave:1 index:1c00.00 error:06020000"), std::string::npos) << text;
}

TEST_F(ConfigMap, SlavesOfAFewBitsShareBytes) {
    start("ZR12,ZR02", {1, 2}, 4);
    ASSERT_EQ(ec_config_map(iomap_), 2);
    for (uint16_t s = 1; s <= 2; ++s) {
        EXPECT_EQ(ec_slave[s].Obits, 4);
        EXPECT_EQ(ec_slave[s].Obytes, 0u) << "bit-oriented";
        EXPECT_EQ(ec_slave[s].outputs, iomap_);
        EXPECT_EQ(ec_slave[s].inputs, iomap_ + 1);
    }
    EXPECT_EQ(ec_slave[1].Ostartbit, 0);
    EXPECT_EQ(ec_slave[2].Ostartbit, 4);
    EXPECT_EQ(ec_slave[2].Istartbit, 4);
    EXPECT_EQ(+ec_slave[2].FMMU[0].LogStartbit, 4);
    EXPECT_EQ(+ec_slave[2].FMMU[0].LogEndbit, 7);
    EXPECT_EQ(+ec_slave[2].FMMU[0].LogLength, 1);
    EXPECT_EQ(+ec_slave[1].FMMU[1].LogStart, 1u);
    EXPECT_EQ(+ec_slave[1].FMMU[1].LogEndbit, 3);
    EXPECT_EQ(ec_group[0].outputsWKC, 2);
    EXPECT_EQ(ec_group[0].inputsWKC, 2);
    EXPECT_EQ(ec_group[0].IOsegment[0], 2u);
}

TEST_F(ConfigMap, TheCheckedFormRefusesABufferTooSmallAndProgramsNothing) {
    start("IO,ZR12,IO,ZR02", {2, 4});
    EXPECT_EQ(ec_config_map_checked(iomap_, 103), 0);
    for (uint16_t s = 1; s <= 4; ++s) {
        EXPECT_EQ(ec_slave[s].outputs, nullptr);
        EXPECT_EQ(ec_slave[s].inputs, nullptr);
        EXPECT_EQ(+fmmu(s, 0).FMMUactive, 0) << "slave " << s;
        EXPECT_EQ(+fmmu(s, 1).FMMUactive, 0) << "slave " << s;
    }
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP)
        << "no SAFE-OP request";

    EXPECT_EQ(ec_config_map_checked(iomap_, 104), 104);
    EXPECT_EQ(ec_slave[4].inputs, iomap_ + 80);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
}

TEST_F(ConfigMap, ALargeImageIsCutIntoSegmentsAtSlaveBoundaries) {
    // 31 bridges: 744 output bytes, then inputs; the first frame keeps room for
    // the DC datagram (1466 bytes), so the last bridge's inputs open a second.
    std::string list = "ZR12";
    for (int i = 1; i < 31; ++i) list += ",ZR12";
    bus_ = std::make_unique<testsupport::VirtualBus>(list);
    for (size_t p = 1; p <= 31; ++p) testsupport::fitCoeDevices(bus_->segment(), {p});
    ASSERT_GT(ec_init(bus_->name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 31);
    ASSERT_EQ(ec_config_map(iomap_), 1488);
    EXPECT_EQ(ec_group[0].nsegments, 2);
    EXPECT_EQ(ec_group[0].IOsegment[0], 1464u);
    EXPECT_EQ(ec_group[0].IOsegment[1], 24u);
    EXPECT_EQ(ec_group[0].Isegment, 0);
    EXPECT_EQ(ec_group[0].Ioffset, 744);
    EXPECT_EQ(ec_slave[31].inputs, iomap_ + 1464);
    EXPECT_EQ(ec_group[0].outputsWKC, 31);
    EXPECT_EQ(ec_group[0].inputsWKC, 31);
    ASSERT_TRUE(ec_configdc());
    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ec_send_processdata();
        EXPECT_EQ(ec_receive_processdata(EC_TIMEOUTRET), 3 * 31) << "both frames counted";
    }
}

TEST_F(ConfigMap, AGroupOfItsOwnHasItsOwnImageAndLogicalRange) {
    start("IO,ZR12", {2});
    ec_slave[2].group = 1;
    ASSERT_EQ(ec_config_map_group(iomap_, 1), 48);
    EXPECT_EQ(ec_slave[1].outputs, nullptr) << "not in the group";
    EXPECT_EQ(ec_slave[2].outputs, iomap_);
    EXPECT_EQ(ec_slave[2].inputs, iomap_ + 24);
    EXPECT_EQ(ec_group[1].Obytes, 24u);
    EXPECT_EQ(+fmmu(2, 0).LogStart, 1u << 16);
    ASSERT_EQ(ec_statecheck(2, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
    iomap_[0] = 0x42;
    auto cycle = [] {
        ec_send_processdata_group(1);
        return ec_receive_processdata_group(1, EC_TIMEOUTRET);
    };
    EXPECT_EQ(cycle(), 3);
    ec_slave[2].state = EC_STATE_OPERATIONAL;
    ec_writestate(2);
    for (int tries = 0;
         tries < 100 && ec_statecheck(2, EC_STATE_OPERATIONAL, 10000) != EC_STATE_OPERATIONAL;
         ++tries) {
        cycle();
    }
    EXPECT_EQ(cycle(), 3);
    EXPECT_EQ(cycle(), 3);
    EXPECT_EQ(iomap_[24], 0x43) << "the test device answers each output byte + 1";
}

TEST_F(ConfigMap, ConfigRunsBothStepsAndReturnsTheSlaveCount) {
    bus_ = std::make_unique<testsupport::VirtualBus>("IO,ZR01");
    testsupport::fitCoeDevices(bus_->segment(), {2});
    ASSERT_GT(ec_init(bus_->name().c_str()), 0);
    EXPECT_EQ(ec_config(FALSE, iomap_), 2);
    EXPECT_EQ(ec_group[0].Obytes + ec_group[0].Ibytes, 52u);
}

}  // namespace
