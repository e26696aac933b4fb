// SII EEPROM access: AP/FP/per-slave reads on 4- and 8-byte slaves, write round
// trips, ownership, the SII byte cache and its parsers, lost frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "ecmaster/codec.hpp"
#include "ecsim/slave.hpp"
#include "ecsim/slave_kinds.hpp"
#include "ethercat.h"
#include "support/virtual_bus.hpp"
#include "tiny_wire.hpp"

namespace {

using namespace std::chrono;
using ecsim::SlaveKind;

class Eeprom : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(ec_init(bus.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 3);
    }
    // Slave 1 (bridge) reads 8 bytes at a time, slave 2 (I/O terminal) 4.
    testsupport::VirtualBus bus{"ZR12,IO,ZR02"};
};

TEST_F(Eeprom, ConfigInitLeavesThePdiOwner) {
    for (int s = 1; s <= 3; ++s) {
        EXPECT_EQ(ec_slave[s].eep_pdi, 1);
        uint8_t cfg = 0xFF;
        ASSERT_EQ(ec_FPRD(ec_slave[s].configadr, ECT_REG_EEPCFG, 1, &cfg, EC_TIMEOUTRET), 1);
        EXPECT_EQ(cfg & 0x01, 0x01);
    }
}

TEST_F(Eeprom, PerSlaveReadTakesTheEepromAndReads32Bits) {
    const auto zr = ecsim::identityOf(SlaveKind::ZR12);
    const auto io = ecsim::identityOf(SlaveKind::IO);
    EXPECT_EQ(ec_readeeprom(1, ECT_SII_MANUF, EC_TIMEOUTEEP), zr.vendor);
    EXPECT_EQ(ec_slave[1].eep_pdi, 0);
    EXPECT_EQ(ec_readeeprom(1, ECT_SII_ID, EC_TIMEOUTEEP), zr.product);
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_ID, EC_TIMEOUTEEP), io.product);
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_REV, EC_TIMEOUTEEP), io.revision);
    EXPECT_EQ(ec_eeprom2pdi(1), 1);
    EXPECT_EQ(ec_slave[1].eep_pdi, 1);
    EXPECT_EQ(ec_eeprom2pdi(1), 1);  // already there: nothing sent
}

TEST_F(Eeprom, ApAndFpReadsReturnFourOrEightBytes) {
    const auto zr = ecsim::identityOf(SlaveKind::ZR12);
    const auto io = ecsim::identityOf(SlaveKind::IO);
    ASSERT_GT(ec_eeprom2master(1), 0);
    ASSERT_GT(ec_eeprom2master(2), 0);
    const uint64 a1 = ec_readeepromAP(0x0000, ECT_SII_MANUF, EC_TIMEOUTEEP);
    EXPECT_EQ(a1, (uint64{zr.product} << 32) | zr.vendor);  // 8-byte ESC
    const uint64 a2 = ec_readeepromAP(0xFFFF, ECT_SII_MANUF, EC_TIMEOUTEEP);
    EXPECT_EQ(a2, uint64{io.vendor});  // 4-byte ESC
    EXPECT_EQ(ec_readeepromFP(0x1001, ECT_SII_REV, EC_TIMEOUTEEP) & 0xFFFFFFFFu, zr.revision);
    EXPECT_EQ(ec_readeepromFP(0x1002, ECT_SII_ID, EC_TIMEOUTEEP), uint64{io.product});
}

TEST_F(Eeprom, ReadWhileThePdiOwnsItFailsWithinTheTimeout) {
    // ec_readeepromFP does not take the EEPROM: with the PDI owning it the
    // command is not carried out and nothing useful comes back.
    const auto t0 = steady_clock::now();
    const uint64 v = ec_readeepromFP(0x1002, ECT_SII_MANUF, EC_TIMEOUTEEP);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(400));
    EXPECT_NE(v, uint64{ecsim::identityOf(SlaveKind::IO).vendor});
}

TEST_F(Eeprom, WriteRoundTrips) {
    for (uint16 slave : {uint16{1}, uint16{2}}) {
        const uint16 original = static_cast<uint16>(ec_readeeprom(slave, 0x0030, EC_TIMEOUTEEP));
        EXPECT_EQ(ec_writeeeprom(slave, 0x0030, 0xA55A, EC_TIMEOUTEEP), 1);
        EXPECT_EQ(ec_readeeprom(slave, 0x0030, EC_TIMEOUTEEP) & 0xFFFF, 0xA55Au);
        EXPECT_EQ(ec_writeeeprom(slave, 0x0030, original, EC_TIMEOUTEEP), 1);
        EXPECT_EQ(ec_readeeprom(slave, 0x0030, EC_TIMEOUTEEP) & 0xFFFF, original);
    }
    // The AP forms, after taking the EEPROM as eepromtool does.
    uint8 b = 2;
    ASSERT_EQ(ec_APWR(0xFFFE, ECT_REG_EEPCFG, 1, &b, EC_TIMEOUTRET), 1);
    b = 0;
    ASSERT_EQ(ec_APWR(0xFFFE, ECT_REG_EEPCFG, 1, &b, EC_TIMEOUTRET), 1);
    EXPECT_EQ(ec_writeeepromAP(0xFFFE, 0x0031, 0x1234, EC_TIMEOUTEEP), 1);
    EXPECT_EQ(ec_readeepromAP(0xFFFE, 0x0031, EC_TIMEOUTEEP) & 0xFFFF, 0x1234u);
    EXPECT_EQ(bus.segment().slave(3).eeprom().word(0x0031), 0x1234);
}

TEST_F(Eeprom, AliasWriteWithChecksumIsReadByTheEsc) {
    // Word 4 = alias; word 7 low byte = CRC of bytes 0..13.
    uint8_t head[14];
    for (uint16 w = 0; w < 7; ++w) {
        const uint16 v = static_cast<uint16>(ec_readeeprom(2, w, EC_TIMEOUTEEP));
        ecat::put16(head + 2 * w, v);
    }
    ecat::put16(head + 8, 0x0123);
    const uint16 w7 = static_cast<uint16>(ec_readeeprom(2, 7, EC_TIMEOUTEEP));
    ASSERT_EQ(ec_writeeeprom(2, 4, 0x0123, EC_TIMEOUTEEP), 1);
    ASSERT_EQ(ec_writeeeprom(2, 7, static_cast<uint16>((w7 & 0xFF00) | ecat::sii::headerCrc(head)),
                             EC_TIMEOUTEEP),
              1);
    EXPECT_TRUE(bus.segment().slave(2).eeprom().headerValid());
    EXPECT_EQ(bus.segment().slave(2).eeprom().word(4), 0x0123);
}

TEST_F(Eeprom, SiiCacheFindsCategoriesAndStrings) {
    EXPECT_GT(ec_siifind(1, ECT_SII_GENERAL), 0);
    EXPECT_GT(ec_siifind(1, ECT_SII_SM), 0);
    EXPECT_GT(ec_siifind(1, ECT_SII_STRING), 0);
    EXPECT_EQ(ec_siifind(1, 99), 0);
    EXPECT_EQ(ec_slave[1].eep_pdi, 1);  // handed back after the search
    char name[EC_MAXNAME + 1];
    ec_siistring(name, 1, 1);
    EXPECT_STREQ(name, "Torvanelix ZR12");
    ec_siistring(name, 2, 1);
    EXPECT_STREQ(name, "IO 16/16");
    ec_siistring(name, 2, 0);
    EXPECT_STREQ(name, "");
    ec_siistring(name, 2, 200);
    EXPECT_STREQ(name, "");
    // Vendor id straight from the byte cache.
    const uint32 v = ec_siigetbyte(1, 16) | (ec_siigetbyte(1, 17) << 8) |
                     (ec_siigetbyte(1, 18) << 16) | (uint32{ec_siigetbyte(1, 19)} << 24);
    EXPECT_EQ(v, ecsim::identityOf(SlaveKind::ZR12).vendor);
    EXPECT_EQ(ec_siigetbyte(1, EC_MAXEEPBUF), 0xFF);
    ec_eeprom2pdi(1);
}

TEST_F(Eeprom, SyncManagerAndFmmuCategories) {
    ec_eepromSMt sm{};
    const uint16 n = ec_siiSM(1, &sm);
    EXPECT_GE(n, 4);
    EXPECT_EQ(sm.PhStart, 0x1000);
    EXPECT_EQ(sm.Plength, 128);
    EXPECT_EQ(ec_siiSMnext(1, &sm, 1), 1);
    EXPECT_EQ(sm.PhStart, 0x1080);
    EXPECT_EQ(ec_siiSMnext(1, &sm, n), 0);
    ec_eepromFMMUt fm{};
    EXPECT_GE(ec_siiFMMU(1, &fm), 2);
    EXPECT_EQ(fm.FMMU0, 1);
    EXPECT_EQ(fm.FMMU1, 2);
    EXPECT_EQ(ec_slave[1].FMMU0func, 1);
    EXPECT_EQ(ec_slave[1].FMMU1func, 2);
}

TEST_F(Eeprom, LostFramesGiveZeroWithinTheTimeout) {
    bus.segment().setDropRate(1.0);
    auto t0 = steady_clock::now();
    EXPECT_EQ(ec_readeepromFP(0x1001, ECT_SII_MANUF, EC_TIMEOUTEEP), 0u);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(300));
    t0 = steady_clock::now();
    EXPECT_EQ(ec_writeeepromFP(0x1001, 0x0030, 1, EC_TIMEOUTEEP), 0);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(300));
    t0 = steady_clock::now();
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_MANUF, EC_TIMEOUTEEP), 0u);
    EXPECT_LT(steady_clock::now() - t0, milliseconds(400));
    bus.segment().setDropRate(0.0);
    EXPECT_EQ(ec_readeeprom(2, ECT_SII_MANUF, EC_TIMEOUTEEP),
              ecsim::identityOf(SlaveKind::IO).vendor);
}

TEST(SiiWalk, AnUnreadableWordEndsTheSearch) {
    tinywire::TinyBus bus;
    bus.wire->setSlaves(0);  // frames come back, nobody answers
    ASSERT_GT(ec_init(bus.name.c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 0);  // also forgets the SII cache
    ec_slave[1].configadr = 0x1001;
    const auto before = bus.wire->frames();
    EXPECT_EQ(ec_siifind(1, ECT_SII_GENERAL), 0);
    char name[EC_MAXNAME + 1] = "x";
    ec_siistring(name, 1, 1);
    EXPECT_STREQ(name, "");
    // One failed EEPROM read per search, not one for every word up to the end
    // of the SII (thousands of reads, minutes of polling).
    EXPECT_LT(bus.wire->frames() - before, 2000u);
}

}  // namespace
