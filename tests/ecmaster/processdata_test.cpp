// Cyclic exchange on a mixed segment: outputs reach the simulated slaves,
// inputs come back, the working counter matches the mapping every cycle, and
// SDOs from other threads run alongside.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ethercat.h"
#include "support/coe_test_device.hpp"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

class ProcessData : public ::testing::Test {
  protected:
    void SetUp() override {
        // Sanitizer builds can stall the cycle past the slaves' watchdog; that
        // behaviour has tests of its own.
        bus_.segment().setWatchdog(std::chrono::milliseconds(0));
        devices_ = testsupport::fitCoeDevices(bus_.segment(), {2, 4});
        ASSERT_GT(ec_init(bus_.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 4);
        ASSERT_EQ(ec_config_map(iomap_), 104);
        ec_configdc();
        ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE), EC_STATE_SAFE_OP);
        expected_ = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
        ASSERT_EQ(expected_, 12);
        ec_slave[0].state = EC_STATE_OPERATIONAL;
        cycle();
        ec_writestate(0);
        ASSERT_TRUE(testsupport::WaitUntil(
            [] { return ec_statecheck(0, EC_STATE_OPERATIONAL, 50000) == EC_STATE_OPERATIONAL; }, 5,
            {.between = [this] { cycle(); }}))
            << "the slaves never reached OP";
    }
    void TearDown() override {
        ec_errort e;
        while (ec_poperror(&e)) {
        }
    }
    int cycle() {
        ec_send_processdata();
        return ec_receive_processdata(EC_TIMEOUTRET);
    }
    // Distinct output bytes for every slave and round.
    void writeOutputs(uint8_t round) {
        for (uint16_t s = 1; s <= 4; ++s) {
            for (uint32_t i = 0; i < ec_slave[s].Obytes; ++i) {
                ec_slave[s].outputs[i] = static_cast<uint8_t>(round * 16 + s * 3 + i);
            }
        }
    }
    void expectExchanged(uint8_t round) {
        for (uint16_t s = 1; s <= 4; ++s) {
            SCOPED_TRACE("slave " + std::to_string(s));
            // The I/O terminals wire outputs back; the test devices add one.
            const int add = (s == 2 || s == 4) ? 1 : 0;
            for (uint32_t i = 0; i < ec_slave[s].Ibytes; ++i) {
                ASSERT_EQ(ec_slave[s].inputs[i], static_cast<uint8_t>(round * 16 + s * 3 + i + add))
                    << "byte " << i;
            }
        }
        auto guard = bus_.segment().lock();
        const auto& seen = devices_[1]->lastOutputs();
        ASSERT_EQ(seen.size(), 24u);
        EXPECT_EQ(seen[5], static_cast<uint8_t>(round * 16 + 4 * 3 + 5));
    }

    testsupport::VirtualBus bus_{"IO,ZR12,IO,ZR02"};
    std::vector<testsupport::CoeTestDevice*> devices_;
    uint8_t iomap_[4096] = {};
    int expected_ = 0;
};

TEST_F(ProcessData, OutputsReachTheSlavesAndInputsComeBackWithTheFullWorkingCounter) {
    for (uint8_t round = 1; round <= 10; ++round) {
        writeOutputs(round);
        // Slaves answer from what they last received: the second cycle shows it.
        EXPECT_EQ(cycle(), expected_);
        EXPECT_EQ(cycle(), expected_);
        expectExchanged(round);
    }
}

TEST_F(ProcessData, WithoutLrwTheExchangeUsesReadsAndWritesWithTheSameCounter) {
    ec_group[0].blockLRW = 1;
    writeOutputs(3);
    EXPECT_EQ(cycle(), expected_);
    EXPECT_EQ(cycle(), expected_);
    expectExchanged(3);
}

TEST_F(ProcessData, ALostFrameIsNoFrameAndTheNextCycleRecovers) {
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUTRET), EC_NOFRAME) << "nothing was sent";
    bus_.segment().dropNext(1);
    EXPECT_EQ(cycle(), EC_NOFRAME);
    EXPECT_EQ(cycle(), expected_);
}

TEST_F(ProcessData, OutputsWrittenWhileAFrameIsOutAreNotUndone) {
    writeOutputs(1);
    ec_send_processdata();
    ec_slave[1].outputs[0] = 0x5A;  // the application's next value
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUTRET), expected_);
    EXPECT_EQ(ec_slave[1].outputs[0], 0x5A);
}

TEST_F(ProcessData, SdosFromTwoThreadsRunBesideTheCycle) {
    for (auto* d : devices_) {
        d->od().addU32(0x2100, 1, 0);
        d->od().addU32(0x2100, 2, 0);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> fullCycles{0};
    std::atomic<int> wrongCycles{0};
    std::thread cyclic([&] {
        while (!stop) {
            // A busy machine may bring a frame back after the cycle's timeout:
            // no frame. Any count but full or none would be a frame mixed up.
            const int wkc = cycle();
            if (wkc == expected_) {
                ++fullCycles;
            } else if (wkc != EC_NOFRAME) {
                ++wrongCycles;
            }
        }
    });
    auto sdoWorker = [](uint8_t sub, int* failures) {
        for (uint32_t n = 0; n < 40; ++n) {
            const uint16_t slave = n % 2 == 0 ? 2 : 4;
            const uint32_t value = (uint32_t{sub} << 24) | n;
            uint32_t back = 0;
            int size = sizeof back;
            if (ec_SDOwrite(slave, 0x2100, sub, FALSE, 4, &value, EC_TIMEOUTRXM) != 1 ||
                ec_SDOread(slave, 0x2100, sub, FALSE, &size, &back, EC_TIMEOUTRXM) != 1 ||
                back != value) {
                ++*failures;
            }
        }
    };
    // Full cycles before the transfers and after them: the cycle ran beside them.
    auto fullCycleAfter = [&fullCycles](int seen) {
        return testsupport::WaitUntil([&] { return fullCycles.load() > seen; });
    };
    EXPECT_TRUE(fullCycleAfter(0));
    int failuresA = 0;
    int failuresB = 0;
    std::thread a(sdoWorker, 1, &failuresA);
    std::thread b(sdoWorker, 2, &failuresB);
    a.join();
    b.join();
    EXPECT_TRUE(fullCycleAfter(fullCycles.load()));
    stop = true;
    cyclic.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
    EXPECT_EQ(wrongCycles.load(), 0);
    EXPECT_FALSE(ec_iserror());
}

// A bus brought to OP with the given image at the given logical address: the
// working counter a full cycle returns.
int bringToOp(testsupport::VirtualBus& bus, uint8_t* iomap, uint32_t logical, int slaves) {
    bus.segment().setWatchdog(std::chrono::milliseconds(0));
    if (ec_init(bus.name().c_str()) <= 0 || ec_config_init(FALSE) != slaves) return -1;
    ec_group[0].logstartaddr = logical;
    if (ec_config_map(iomap) <= 0 ||
        ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) {
        return -1;
    }
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_writestate(0);
    const bool op = testsupport::WaitUntil(
        [] { return ec_statecheck(0, EC_STATE_OPERATIONAL, 50000) == EC_STATE_OPERATIONAL; }, 5,
        {.between = [] {
            ec_send_processdata();
            ec_receive_processdata(EC_TIMEOUTRET);
        }});
    return op ? 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC : -1;
}

TEST(ProcessDataMapping, ABusConfiguredAgainWithALargerImageExchangesAllOfIt) {
    uint8_t small[64] = {};
    {
        testsupport::VirtualBus bus("IO");
        const int expected = bringToOp(bus, small, 0, 1);
        ASSERT_GT(expected, 0);
        ec_send_processdata();
        ASSERT_EQ(ec_receive_processdata(EC_TIMEOUTRET), expected);
    }
    // Another image, twice the size, in memory and on the bus at other
    // addresses: the frame must follow.
    uint8_t large[256] = {};
    testsupport::VirtualBus bus("IO,IO");
    const int expected = bringToOp(bus, large, 0x00040000, 2);
    ASSERT_GT(expected, 0);
    ASSERT_GT(ec_slave[2].Obytes, 0u);
    for (uint32_t i = 0; i < ec_slave[2].Obytes; ++i) ec_slave[2].outputs[i] = 0xA0 + i;
    for (int k = 0; k < 2; ++k) {  // the I/O terminal answers with what it last received
        ec_send_processdata();
        ASSERT_EQ(ec_receive_processdata(EC_TIMEOUTRET), expected);
    }
    for (uint32_t i = 0; i < ec_slave[2].Ibytes; ++i) {
        EXPECT_EQ(ec_slave[2].inputs[i], static_cast<uint8_t>(0xA0 + i)) << "byte " << i;
    }
}

}  // namespace
