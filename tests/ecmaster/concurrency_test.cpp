// Several threads using the master at once on a simulated segment: register
// reads, EEPROM reads of different slaves and broadcasts, all answered right.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ecsim/slave_kinds.hpp"
#include "ethercat.h"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

using testsupport::kPatientUs;

TEST(Concurrency, ThreadsSharePrimitivesAndEeprom) {
    testsupport::VirtualBus bus("ZR12,IO,ZR02,IO");
    ASSERT_GT(ec_init(bus.name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 4);
    const ecsim::SlaveKind kinds[] = {ecsim::SlaveKind::ZR12, ecsim::SlaveKind::IO,
                                      ecsim::SlaveKind::ZR02, ecsim::SlaveKind::IO};
    for (uint16 s = 1; s <= 4; ++s) ASSERT_GT(ec_eeprom2master(s), 0);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (uint16 s = 1; s <= 4; ++s) {
        threads.emplace_back([s, &kinds, &bad] {
            const uint16 adr = static_cast<uint16>(0x1000 + s);
            const auto id = ecsim::identityOf(kinds[s - 1]);
            for (int i = 0; i < 40; ++i) {
                if (ec_FPRDw(adr, ECT_REG_STADR, kPatientUs) != adr) ++bad;
                const uint64 v = ec_readeepromFP(adr, ECT_SII_ID, kPatientUs);
                if (static_cast<uint32>(v) != id.product) ++bad;
                uint8 w[2] = {};
                if (ec_APRD(static_cast<uint16>(1 - s), ECT_REG_STADR, 2, w, kPatientUs) != 1 ||
                    (w[0] | (w[1] << 8)) != adr)
                    ++bad;
            }
        });
    }
    threads.emplace_back([&bad] {
        for (int i = 0; i < 200; ++i) {
            uint8 w[2] = {};
            if (ec_BRD(0, ECT_REG_TYPE, 2, w, kPatientUs) != 4) ++bad;
        }
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(Concurrency, ConfigInitSurvivesOccasionalLoss) {
    testsupport::VirtualBus bus("ZR12,IO,ZR02");
    ASSERT_GT(ec_init(bus.name().c_str()), 0);
    bus.segment().setDropRate(0.01);
    ASSERT_EQ(ec_config_init(FALSE), 3);
    bus.segment().setDropRate(0.0);
    EXPECT_EQ(ec_slave[1].eep_id, ecsim::identityOf(ecsim::SlaveKind::ZR12).product);
    EXPECT_EQ(ec_slave[2].eep_id, ecsim::identityOf(ecsim::SlaveKind::IO).product);
    EXPECT_EQ(ec_slave[3].eep_id, ecsim::identityOf(ecsim::SlaveKind::ZR02).product);
    EXPECT_STREQ(ec_slave[3].name, ecsim::deviceName(ecsim::SlaveKind::ZR02).c_str());
    EXPECT_EQ(ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUTSTATE), EC_STATE_PRE_OP);
}

TEST(Concurrency, DroppedFramesAreRetriedWithinTheTimeout) {
    testsupport::VirtualBus bus("IO");
    ASSERT_GT(ec_init(bus.name().c_str()), 0);
    ASSERT_EQ(ec_config_init(FALSE), 1);
    bus.segment().dropNext(2);
    EXPECT_EQ(ec_FPRDw(0x1001, ECT_REG_STADR, 10 * EC_TIMEOUTRET), 0x1001);  // a later attempt
    bus.segment().dropNext(3);
    // At most three attempts fit in EC_TIMEOUTRET3 (fewer on a slow machine).
    EXPECT_EQ(ec_FPRDw(0x1001, ECT_REG_STADR, EC_TIMEOUTRET3), 0);
    uint8 w[2] = {};
    EXPECT_EQ(ec_BRD(0, 0, 2, w, 20000), 1);
}

}  // namespace
