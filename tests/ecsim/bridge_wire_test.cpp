// The bridge model end to end: the master on the virtual wire configures a
// simulated segment and talks to the bridges by SDO and process data.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "bridge_test_util.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "ethercat.h"
#include "support/virtual_bus.hpp"
#include "support/wait_until.hpp"

namespace {

using namespace std::chrono_literals;

constexpr uint16 kBridge = 1;    // ZR12, motors on channels 1, 2 and 4
constexpr uint16 kTerminal = 2;  // plain I/O
constexpr uint16 kBridgeB = 3;   // ZR02
constexpr uint32_t kNoAbort = 0;
constexpr uint32_t kNoAnswer = 0xFFFFFFFF;

class BridgeOnWire : public ::testing::Test {
  protected:
    void SetUp() override {
        // The tests pause process data while they talk by SDO.
        bus.segment().setWatchdog(0ms);
        ASSERT_GT(ec_init(bus.name().c_str()), 0);
        ASSERT_EQ(ec_config_init(FALSE), 3);
        clearErrors();
    }

    static void clearErrors() {
        ec_errort e;
        while (ec_poperror(&e)) {
        }
    }

    // 0 when the slave took the value, else its SDO abort code.
    static uint32_t write(uint16 slave, uint16 index, uint8 sub, int64_t value) {
        const auto bytes = bridgetest::fourBytes(value);
        return outcome(ec_SDOwrite(slave, index, sub, FALSE, 4, bytes.data(), EC_TIMEOUTRXM));
    }
    static uint32_t writeText(uint16 slave, uint16 index, const std::string& text) {
        return outcome(ec_SDOwrite(slave, index, 0, FALSE, static_cast<int>(text.size()),
                                   text.data(), EC_TIMEOUTRXM));
    }
    static uint32_t outcome(int wkc) {
        if (wkc > 0) return kNoAbort;
        uint32_t code = kNoAnswer;
        ec_errort e;
        while (ec_poperror(&e)) {
            if (e.Etype == EC_ERR_TYPE_SDO_ERROR) code = static_cast<uint32_t>(e.AbortCode);
        }
        return code;
    }
    static std::string readText(uint16 slave, uint16 index, uint8 sub = 0) {
        char data[128] = {};
        int size = 127;
        const int wkc = ec_SDOread(slave, index, sub, FALSE, &size, data, EC_TIMEOUTRXM);
        EXPECT_GT(wkc, 0) << std::hex << index << ":" << int(sub);
        if (wkc <= 0 || size < 0) return std::string();
        return std::string(data, std::min(static_cast<size_t>(size), sizeof data - 1));
    }
    static int64_t readInt(uint16 slave, uint16 index, uint8 sub = 0) {
        uint8 data[8] = {};
        int size = sizeof data;
        const int wkc = ec_SDOread(slave, index, sub, FALSE, &size, data, EC_TIMEOUTRXM);
        EXPECT_GT(wkc, 0) << std::hex << index << ":" << int(sub);
        if (wkc <= 0 || size < 0) return 0;
        return bridgetest::signedValue(
            std::span<const uint8_t>(data, std::min(static_cast<size_t>(size), sizeof data)));
    }

    // All replies of one motor until the bridge answers "nothing queued".
    static std::vector<std::string> drain(uint16 slave, int motor) {
        std::vector<std::string> replies;
        for (int i = 0; i < 200; ++i) {
            std::string r = readText(slave, static_cast<uint16>(0xF590 + motor));
            if (r.empty() || r.front() == 'N') break;
            replies.push_back(r);
        }
        return replies;
    }
    static std::vector<std::string> tql(uint16 slave, int motor, const std::string& line) {
        EXPECT_EQ(writeText(slave, static_cast<uint16>(0xF580 + motor), line), kNoAbort);
        return drain(slave, motor);
    }

    // ---- process data ----
    // OP with every axis of the bridge enabled (controlword 0x000F).
    void goOperational() {
        ASSERT_GT(ec_config_map(ioMap), 0);
        ASSERT_EQ(ec_slave[kBridge].Obytes, 24u);
        ASSERT_EQ(ec_slave[kBridge].Ibytes, 24u);
        for (int c = 0; c < 4; ++c) setOutputs(c, 0x000F);
        ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE);
        ec_slave[0].state = EC_STATE_OPERATIONAL;
        cycle();
        ec_writestate(0);
        ASSERT_TRUE(waitFor(
            [] { return ec_statecheck(0, EC_STATE_OPERATIONAL, 20000) == EC_STATE_OPERATIONAL; }));
    }
    static void cycle() {
        ec_send_processdata();
        ec_receive_processdata(EC_TIMEOUTRET);
    }
    // Runs process-data cycles until `done` holds; false after 15 s.
    static bool waitFor(const std::function<bool()>& done) {
        return testsupport::WaitUntil(
            [&] {
                cycle();
                return done();
            },
            15, {.pause = 2ms});
    }
    static void setOutputs(int channel, uint16_t controlword, int32_t target = 0) {
        uint8* p = ec_slave[kBridge].outputs + 6 * channel;
        p[0] = static_cast<uint8>(controlword);
        p[1] = static_cast<uint8>(controlword >> 8);
        const auto t = static_cast<uint32_t>(target);
        for (int b = 0; b < 4; ++b) p[2 + b] = static_cast<uint8>(t >> (8 * b));
    }
    static uint16_t statusword(int channel) {
        const uint8* p = ec_slave[kBridge].inputs + 6 * channel;
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    static int32_t position(int channel) {
        const uint8* p = ec_slave[kBridge].inputs + 6 * channel + 2;
        return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                    (static_cast<uint32_t>(p[3]) << 24));
    }
    void setMode(int channel, int mode) {
        const auto axis = static_cast<uint16_t>(channel * 0x800);
        ASSERT_EQ(write(kBridge, static_cast<uint16_t>(0x6060 + axis), 0, mode), kNoAbort);
        ASSERT_TRUE(waitFor([&] {
            return readInt(kBridge, static_cast<uint16_t>(0x6061 + axis)) == mode;
        })) << "mode display never showed "
            << mode;
    }

    testsupport::VirtualBus bus{"ZR12:124,IO,ZR02"};
    uint8 ioMap[4096] = {};
};

TEST_F(BridgeOnWire, IdentifiesEachBridge) {
    EXPECT_EQ(readText(kBridge, 0x1008), "Torvanelix ZR12");
    EXPECT_EQ(readText(kBridgeB, 0x1008), "Torvanelix ZR02");
    EXPECT_EQ(readText(kBridge, 0x100A), "V1.07");
    EXPECT_EQ(static_cast<uint32_t>(readInt(kBridge, 0x1018, 1)), ec_slave[kBridge].eep_man);
    EXPECT_EQ(static_cast<uint32_t>(readInt(kBridgeB, 0x1018, 2)), ec_slave[kBridgeB].eep_id);
    // The terminal has no mailbox at all.
    char data[16];
    int size = sizeof data;
    EXPECT_LE(ec_SDOread(kTerminal, 0x1008, 0, FALSE, &size, data, 100000), 0);
}

TEST_F(BridgeOnWire, MotorsAnswerTheOnlineQueryExceptAMissingOne) {
    for (int motor = 1; motor <= 4; ++motor) {
        const auto replies = tql(kBridge, motor, "?99.1");
        if (motor == 3) {
            EXPECT_TRUE(replies.empty()) << "channel 3 has no motor";
        } else {
            ASSERT_EQ(replies.size(), 1u) << motor;
            EXPECT_EQ(replies[0], motor <= 2 ? "Ux=TQ-A 2.10" : "Ux=TQ-B 3.04");
        }
    }
    const std::string nothing = readText(kBridge, 0xF593);
    ASSERT_FALSE(nothing.empty());
    EXPECT_EQ(nothing.front(), 'N');
}

TEST_F(BridgeOnWire, RepliesComeOldestFirstThenN) {
    ASSERT_EQ(writeText(kBridgeB, 0xF582, "?99.1"), kNoAbort);
    ASSERT_EQ(writeText(kBridgeB, 0xF582, "K16.1,K37.1"), kNoAbort);
    EXPECT_EQ(readText(kBridgeB, 0xF592), "Ux=TQ-B 3.04");
    EXPECT_EQ(readText(kBridgeB, 0xF592), "K16.1=2");
    EXPECT_EQ(readText(kBridgeB, 0xF592), "K37.1=20");
    EXPECT_EQ(readText(kBridgeB, 0xF592), "NoData");
}

TEST_F(BridgeOnWire, UnlockedMotorsTakeParametersAndLockedOnesIgnoreThem) {
    const std::string set = "K16.1=4,K23.1=9,K70.1=0,K67.1=1,K37.1=10";
    const std::string query = "K16.1,K23.1,K70.1,K67.1,K37.1";
    EXPECT_TRUE(tql(kBridge, 1, "  \r\n").empty());
    EXPECT_TRUE(tql(kBridge, 1, set).empty());
    EXPECT_EQ(tql(kBridge, 1, query),
              (std::vector<std::string>{"K16.1=2", "K23.1=5", "K70.1=1", "K67.1=0", "K37.1=20"}))
        << "locked: factory values";

    tql(kBridge, 1, "W.1=358");
    tql(kBridge, 4, "W.1=6042");
    tql(kBridge, 1, set);
    tql(kBridge, 4, set);
    const std::vector<std::string> expected{"K16.1=4", "K23.1=9", "K70.1=0", "K67.1=1", "K37.1=10"};
    EXPECT_EQ(tql(kBridge, 1, query), expected);
    EXPECT_EQ(tql(kBridge, 4, query), expected);
    // Kind-A word on a kind-B motor of another bridge leaves it locked.
    tql(kBridgeB, 1, "W.1=358");
    tql(kBridgeB, 1, "K16.1=4");
    EXPECT_EQ(tql(kBridgeB, 1, "K16.1"), std::vector<std::string>{"K16.1=2"});
}

TEST_F(BridgeOnWire, ALineReachesTheMotorOnlyAtMatchingSpeeds) {
    // The serial speed switch to 170 kbit/s as the tool runs it on channel 4.
    ASSERT_EQ(write(kBridge, 0xF550, 3, 0x6D3F1), kNoAbort);
    tql(kBridge, 4, "W.1=6042");
    tql(kBridge, 4, "K20.1=8");
    EXPECT_TRUE(tql(kBridge, 4, "?99.1").empty()) << "channel still at 38400";
    ASSERT_EQ(write(kBridge, 0xF514, 2, 6), kNoAbort);
    EXPECT_EQ(tql(kBridge, 4, "?99.1"), std::vector<std::string>{"Ux=TQ-B 3.04"});
    // Channel 1 switched without its motor: the line is lost.
    ASSERT_EQ(write(kBridge, 0xF511, 2, 6), kNoAbort);
    EXPECT_TRUE(tql(kBridge, 1, "?99.1").empty());
    ASSERT_EQ(write(kBridge, 0xF550, 3, 0), kNoAbort);
}

TEST_F(BridgeOnWire, WindowAndUnlockGatesAnswerWithSdoAborts) {
    EXPECT_EQ(write(kBridge, 0xF540, 1, 10), ecsim::abort_code::DeviceState);
    EXPECT_EQ(write(kBridge, 0xF512, 2, 6), ecsim::abort_code::DeviceState);
    EXPECT_EQ(write(kBridge, 0xF540, 0x0C, 99), ecsim::abort_code::DeviceState);
    EXPECT_EQ(write(kBridge, 0xF511, 1, 2), ecsim::abort_code::DeviceState);
    EXPECT_EQ(writeText(kBridge, 0xF570, "!PRGMO\r\n"), ecsim::abort_code::DeviceState);
    EXPECT_EQ(writeText(kBridge, 0xF581, std::string(65, 'K')), ecsim::abort_code::LengthTooHigh);

    ASSERT_EQ(write(kBridge, 0xF550, 3, 0x6D3F1), kNoAbort);
    EXPECT_EQ(write(kBridge, 0xF540, 1, 10), kNoAbort);
    EXPECT_EQ(readText(kBridge, 0xF540, 1).size(), 4u);
    EXPECT_EQ(readInt(kBridge, 0xF540, 1), 10);
    ASSERT_EQ(write(kBridge, 0xF550, 3, 0), kNoAbort);

    ASSERT_EQ(write(kBridge, 0xF550, 2, 0x7E2B), kNoAbort);
    EXPECT_EQ(write(kBridge, 0xF540, 0x0C, 99), kNoAbort);
    EXPECT_EQ(write(kBridge, 0xF540, 0x0B, 3), kNoAbort);
    EXPECT_EQ(readInt(kBridge, 0x1018, 4), 99);
    // Back through INIT the bridge is locked again.
    ec_slave[kBridge].state = EC_STATE_INIT;
    ec_writestate(kBridge);
    ASSERT_EQ(ec_statecheck(kBridge, EC_STATE_INIT, EC_TIMEOUTSTATE), EC_STATE_INIT);
    // Its mailbox set up again (reconfiguration aims at SAFE-OP; PRE-OP will do).
    ec_reconfig_slave(kBridge, 500000);
    ec_readstate();
    ASSERT_GE(ec_slave[kBridge].state & 0x0F, EC_STATE_PRE_OP);
    clearErrors();
    EXPECT_EQ(write(kBridge, 0xF540, 0x0C, 100), ecsim::abort_code::DeviceState);
}

class FirmwareOnWire : public BridgeOnWire {
  protected:
    // Opens a download as the tool does; false when the loader never got ready.
    bool open() {
        if (write(kBridge, 0xF550, 2, 0x7E2B) != kNoAbort) return false;
        if (writeText(kBridge, 0xF570, "!PRGMO\r\n") != kNoAbort) return false;
        if (readText(kBridge, 0xF571) != "PrgMod OK!\r\n") return false;
        if (writeText(kBridge, 0xF570, "!110.9\r\n") != kNoAbort) return false;
        return waitFor([] { return readText(kBridge, 0xF571).rfind("Down", 0) == 0; });
    }
    static std::string sendLine(const std::string& line) {
        EXPECT_EQ(writeText(kBridge, 0xF570, line), kNoAbort);
        return readText(kBridge, 0xF571);
    }
};

TEST_F(FirmwareOnWire, AGoodFileEndsWithFlashDoneAndTheNewVersion) {
    ASSERT_TRUE(open());
    EXPECT_EQ(sendLine("S008000056322E3030E1\r\n"), "B00001\r\n");
    EXPECT_EQ(sendLine("S1130000000102030405060708090A0B0C0D0E0F74\r\n"), "B00002\r\n");
    EXPECT_EQ(readText(kBridge, 0x100A), "V1.07");
    EXPECT_EQ(sendLine("S9030000FC\r\n"), "Flash Done\r\n");
    EXPECT_EQ(readText(kBridge, 0xF571).front(), 'N');
    EXPECT_EQ(readText(kBridge, 0x100A), "V2.00");
}

TEST_F(FirmwareOnWire, ABadChecksumIsRefusedAndChangesNothing) {
    ASSERT_TRUE(open());
    EXPECT_EQ(sendLine("S008000056322E3030E1\r\n"), "B00001\r\n");
    for (int resend = 0; resend < 3; ++resend) {
        EXPECT_EQ(sendLine("S1130000000102030405060708090A0B0C0D0E0F00\r\n"), "Err:Sum\r\n");
    }
    EXPECT_EQ(readText(kBridge, 0x100A), "V1.07");
}

TEST_F(BridgeOnWire, ModeWritesShowOnTheDisplayAndCspFollowsTheTarget) {
    goOperational();
    setMode(0, 8);
    setOutputs(0, 0x000F, 23456);
    EXPECT_TRUE(waitFor([] { return position(0) == 23456; }));
    EXPECT_NE(statusword(0) & (1 << 10), 0);
    EXPECT_EQ(readText(kBridge, 0xF591).front(), 'N');  // motion leaves the text channel alone
    EXPECT_EQ(tql(kBridge, 1, "?96.1"), std::vector<std::string>{"Px=23456"});
}

TEST_F(BridgeOnWire, HomingAttainsTheOffset) {
    goOperational();
    setMode(0, 6);
    ASSERT_EQ(write(kBridge, 0x6098, 0, 2), kNoAbort);
    ASSERT_EQ(write(kBridge, 0x607C, 0, 250), kNoAbort);
    ASSERT_EQ(write(kBridge, 0x6099, 1, 2000), kNoAbort);
    setOutputs(0, 0x001F);
    for (int i = 0; i < 5; ++i) cycle();
    setOutputs(0, 0x000F);
    ASSERT_TRUE(waitFor([] { return (statusword(0) & 0x7000) != 0; }));
    EXPECT_EQ(statusword(0) & 0x7000, 0x1000);
    EXPECT_EQ(position(0), 250);
}

TEST_F(BridgeOnWire, SwitchHomingWithoutItsInputFailsAndHaltEndsAHoming) {
    goOperational();
    setMode(0, 6);
    setMode(1, 6);
    ASSERT_EQ(write(kBridge, 0x6098, 0, 4), kNoAbort);
    ASSERT_EQ(write(kBridge, 0x60F6, 0x07, 11), kNoAbort);    // K27 marks no input
    ASSERT_EQ(write(kBridge, 0x687C, 0, 1000000), kNoAbort);  // far away: a long homing
    setOutputs(0, 0x001F);
    setOutputs(1, 0x001F);
    for (int i = 0; i < 5; ++i) cycle();
    setOutputs(0, 0x000F);
    setOutputs(1, 0x010F);  // halt
    ASSERT_TRUE(waitFor([] { return (statusword(0) & 0x7000) != 0; }));
    EXPECT_EQ(statusword(0) & 0x7000, 0x2000);
    EXPECT_EQ(statusword(1) & 0x7000, 0x2000);
    EXPECT_NE(position(1), 1000000);
}

TEST_F(BridgeOnWire, CpioModeCarriesOutputsToInputs) {
    goOperational();
    setMode(0, 121);
    setOutputs(0, 0xC05F);
    ASSERT_TRUE(waitFor([] { return (statusword(0) & 0xF0) == 0x50; }));
    EXPECT_EQ(readInt(kBridge, 0x60FD), 5);
    // Back in mode 8 the outputs come from 0x60FE under its mask.
    setMode(0, 8);
    ASSERT_EQ(write(kBridge, 0x60FE, 2, 15), kNoAbort);
    ASSERT_EQ(write(kBridge, 0x60FE, 1, 0x9), kNoAbort);
    EXPECT_EQ(readInt(kBridge, 0x60FD), 9);
}

}  // namespace
