// The bridge's CiA402 axes driven through process data on the test's clock.
#include <gtest/gtest.h>

#include "bridge_test_util.hpp"

namespace {

using namespace std::chrono_literals;
using bridgetest::Bridge;
using ecsim::DriveState;
using ecsim::HomingState;
using ecsim::SlaveKind;

constexpr uint16_t kBitAttained = 1 << 12;
constexpr uint16_t kBitHomingError = 1 << 13;
constexpr uint16_t kBitMotorError = 1 << 14;
constexpr uint16_t kHomingBits = kBitAttained | kBitHomingError | kBitMotorError;

uint16_t axisIndex(uint16_t base, size_t channel) {
    return static_cast<uint16_t>(base + channel * 0x800);
}

// Puts every axis in `mode` and lets the display catch up.
void setMode(Bridge& bridge, int8_t mode) {
    for (size_t c = 0; c < 4; ++c) ASSERT_EQ(bridge.write(axisIndex(0x6060, c), 0, mode), 0u);
    bridge.advance(50ms);
}

TEST(Cia402Axis, ModeDisplayLagsTheWrittenModeByACycleOrTwo) {
    Bridge bridge;
    EXPECT_EQ(bridge.readInt(0x6061, 0), 101) << "power-on: TQL pass-through";
    ASSERT_EQ(bridge.write(0x6060, 0, 8), 0u);
    ASSERT_EQ(bridge.write(0x7860, 0, 121), 0u);
    EXPECT_EQ(bridge.readInt(0x6060, 0), 8);
    EXPECT_EQ(bridge.readInt(0x6061, 0), 101);
    bridge.advance(20ms);
    EXPECT_EQ(bridge.readInt(0x6061, 0), 101);
    bridge.advance(20ms);
    EXPECT_EQ(bridge.readInt(0x6061, 0), 8);
    EXPECT_EQ(bridge.readInt(0x7861, 0), 121);
    EXPECT_EQ(bridge.readInt(0x6861, 0), 101) << "other axes keep their mode";

    EXPECT_EQ(bridge.write(0x6060, 0, 7), ecsim::abort_code::ValueRange);
    EXPECT_EQ(bridge.readInt(0x6060, 0), 8);
}

TEST(Cia402Axis, LenientStateMachineFollowsTheControlword) {
    Bridge bridge;
    auto in = bridge.cycleAll(0x0000);
    EXPECT_EQ(in.statusword[0] & 0x6F, 0x40) << "switch on disabled";
    in = bridge.cycleAll(0x0007);
    EXPECT_EQ(in.statusword[0] & 0x6F, 0x23) << "switched on";
    EXPECT_EQ(bridge.device.axis(0).state(), DriveState::SwitchedOn);
    in = bridge.cycleAll(0x000F);
    EXPECT_EQ(in.statusword[0] & 0x6F, 0x27) << "operation enabled";
    in = bridge.cycleAll(0x0006);
    EXPECT_EQ(in.statusword[0] & 0x6F, 0x21) << "ready to switch on";
    in = bridge.cycleAll(0x000F);
    EXPECT_EQ(bridge.device.axis(3).state(), DriveState::OperationEnabled);
    EXPECT_EQ(bridge.readInt(0x7841, 0), in.statusword[3]);

    // Leaving OP takes the controlword as 0.
    bridge.device.onStateChange(0x08, 0x04);
    EXPECT_EQ(bridge.device.axis(0).state(), DriveState::SwitchOnDisabled);
}

TEST(Cia402Axis, CyclicSynchronousPositionFollowsTheTargetInBoundedSteps) {
    Bridge bridge;
    setMode(bridge, 8);
    auto in = bridge.cycleAll(0x0007, 5000);
    EXPECT_EQ(in.position[0], 0) << "not enabled: no motion";

    in = bridge.cycleAll(0x000F, 5000);
    EXPECT_EQ(in.position[0], 5000);
    EXPECT_NE(in.statusword[0] & (1 << 10), 0) << "target reached";
    EXPECT_NE(in.statusword[0] & (1 << 12), 0) << "following the target";

    in = bridge.cycleAll(0x000F, 100000);
    EXPECT_EQ(in.position[1], 15000) << "one bounded step";
    EXPECT_EQ(in.statusword[1] & (1 << 10), 0);
    in = bridge.cycleAll(0x010F, 100000);
    EXPECT_EQ(in.position[1], 15000) << "halt holds";
    in = bridge.cycleAll(0x000F, -100);
    EXPECT_EQ(in.position[2], 5000);
    for (int i = 0; i < 3; ++i) in = bridge.cycleAll(0x000F, -100);
    EXPECT_EQ(in.position[2], -100);
    EXPECT_EQ(bridge.readInt(0x7064, 0), -100);
    EXPECT_EQ(bridge.device.motor(2)->position(), -100);
}

class Homing : public ::testing::Test {
  protected:
    void SetUp() override {
        setMode(bridge, 6);
        bridge.cycleAll(0x000F);
    }
    // A rising edge of bit 4 on channel 1, held as the tool holds it.
    void start() {
        bridge.cycle({0x001F, 0x000F, 0x000F, 0x000F});
        bridge.cycle({0x001F, 0x000F, 0x000F, 0x000F});
        bridge.cycle({0x000F, 0x000F, 0x000F, 0x000F});
    }
    // Cycles until a homing bit shows on channel 1 or `limit` of simulated time passes.
    uint16_t runUntilDone(std::chrono::milliseconds limit, std::chrono::milliseconds* took) {
        const auto begin = bridge.now;
        uint16_t sw = 0;
        while (bridge.now - begin < limit) {
            sw = bridge.cycleAll(0x000F).statusword[0];
            if ((sw & kHomingBits) != 0) break;
        }
        if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(bridge.now - begin);
        return sw;
    }
    Bridge bridge;
};

TEST_F(Homing, StopperHomingEndsAttainedAtTheOffset) {
    ASSERT_EQ(bridge.write(0x6098, 0, 2), 0u);
    ASSERT_EQ(bridge.write(0x607C, 0, -300), 0u);
    EXPECT_EQ(bridge.cycleAll(0x000F).statusword[0] & kHomingBits, 0) << "not started";
    start();
    EXPECT_EQ(bridge.device.axis(0).homing(), HomingState::Running);
    const uint16_t sw = runUntilDone(10s, nullptr);
    EXPECT_EQ(sw & kHomingBits, kBitAttained);
    EXPECT_EQ(bridge.readInt(0x6064, 0), -300);
    EXPECT_EQ(bridge.device.axis(1).homing(), HomingState::NotStarted);
    // The result stays until the next start.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(bridge.cycleAll(0x000F).statusword[0] & kHomingBits, kBitAttained);
    bridge.cycle({0x001F, 0x000F, 0x000F, 0x000F});
    EXPECT_EQ(bridge.cycleAll(0x000F).statusword[0] & kHomingBits, 0);
}

TEST_F(Homing, DurationGrowsWithDistanceAndShrinksWithSpeed) {
    auto homingTime = [this](int32_t offset, int32_t speed) {
        EXPECT_EQ(bridge.write(0x607C, 0, offset), 0u);
        EXPECT_EQ(bridge.write(0x6099, 1, speed), 0u);
        start();
        std::chrono::milliseconds took{};
        EXPECT_EQ(runUntilDone(600s, &took) & kHomingBits, kBitAttained);
        return took;
    };
    const auto near = homingTime(0, 500);
    const auto far = homingTime(200000, 500);
    const auto farFast = homingTime(0, 5000);
    EXPECT_GT(far, near);
    EXPECT_LT(farFast, far) << "the same distance back at ten times the speed";
}

TEST_F(Homing, SwitchHomingWithoutAMarkedInputEndsWithAnError) {
    ASSERT_EQ(bridge.write(0x6098, 0, 3), 0u);
    ASSERT_EQ(bridge.write(0x60F6, 7, 11), 0u);  // K27 without a digit 2
    start();
    std::chrono::milliseconds took{};
    EXPECT_EQ(runUntilDone(10s, &took) & kHomingBits, kBitHomingError);
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_GT(bridge.readInt(0x6064, 0), 0) << "SwitchCW searched upwards";

    ASSERT_EQ(bridge.write(0x60F6, 7, 2011), 0u);  // input 4 marked
    start();
    EXPECT_EQ(runUntilDone(10s, nullptr) & kHomingBits, kBitAttained);
}

TEST_F(Homing, HaltStopsTheMotionAndEndsTheHomingUnattained) {
    ASSERT_EQ(bridge.write(0x607C, 0, 1000000), 0u);
    start();
    const int32_t before = bridge.cycleAll(0x000F).position[0];
    auto in = bridge.cycle({0x010F, 0x000F, 0x000F, 0x000F});
    EXPECT_EQ(in.statusword[0] & kHomingBits, kBitHomingError);
    const int32_t stopped = in.position[0];
    EXPECT_GE(stopped, before);
    for (int i = 0; i < 5; ++i) in = bridge.cycleAll(0x000F);
    EXPECT_EQ(in.position[0], stopped);
    EXPECT_EQ(in.statusword[0] & kHomingBits, kBitHomingError);
}

TEST_F(Homing, NeedsOperationEnabledAndAMotor) {
    bridge.cycleAll(0x0007);
    bridge.cycleAll(0x0017);
    EXPECT_EQ(bridge.device.axis(0).homing(), HomingState::NotStarted);

    Bridge partial(SlaveKind::ZR01, {true, false, true, true});
    setMode(partial, 6);
    partial.cycleAll(0x000F);
    const auto in = partial.cycleAll(0x001F);
    EXPECT_EQ(in.statusword[1] & kHomingBits, kBitMotorError);
    EXPECT_EQ(in.statusword[0] & kHomingBits, 0);
}

TEST(Cia402Axis, ControlwordAndTargetWrittenBySdoActAsACycle) {
    Bridge bridge;
    setMode(bridge, 8);
    ASSERT_EQ(bridge.write(0x6840, 0, 0x000F), 0u);
    EXPECT_EQ(bridge.device.axis(1).state(), DriveState::OperationEnabled);
    ASSERT_EQ(bridge.write(0x687A, 0, 700), 0u);
    EXPECT_EQ(bridge.readInt(0x6864, 0), 700);
    EXPECT_EQ(bridge.readInt(0x687A, 0), 700);
    EXPECT_EQ(bridge.readInt(0x6840, 0), 0x000F);
    // The next process-data cycle takes over.
    bridge.cycleAll(0x0007, 700);
    EXPECT_EQ(bridge.readInt(0x6840, 0), 0x0007);
}

TEST(Cia402Axis, RefusesHomingParametersThatMakeNoSense) {
    Bridge bridge;
    EXPECT_EQ(bridge.write(0x6098, 0, 5), ecsim::abort_code::ValueRange);
    EXPECT_EQ(bridge.write(0x6099, 1, 0), ecsim::abort_code::ValueRange);
    EXPECT_EQ(bridge.write(0x6099, 2, 0), ecsim::abort_code::ValueRange);
    EXPECT_EQ(bridge.write(0x609A, 0, 0), ecsim::abort_code::ValueRange);
    EXPECT_EQ(bridge.write(0x7099, 2, 40000), 0u);
    EXPECT_EQ(bridge.readInt(0x7099, 2), 40000);
}

TEST(Cia402Axis, CpioModeDrivesOutputsFromTheControlwordAndReportsInputs) {
    Bridge bridge;
    setMode(bridge, 121);
    auto in = bridge.cycle({0xC00F, 0xC05F, 0x00AF, 0xC0FF});
    EXPECT_EQ(in.statusword[0] & 0xF0, 0x00);
    EXPECT_EQ(in.statusword[1] & 0xF0, 0x50);
    EXPECT_EQ(in.statusword[2] & 0xF0, 0xA0);
    EXPECT_EQ(in.statusword[3] & 0xF0, 0xF0);
    EXPECT_EQ(bridge.device.axis(1).outputs(), 0x5);
    EXPECT_EQ(bridge.readInt(0x68FD, 0), 0x5);
    EXPECT_EQ(bridge.device.axis(0).state(), DriveState::OperationEnabled);
}

TEST(Cia402Axis, DigitalOutputsNeedTheirMaskAndShowOnTheInputs) {
    Bridge bridge;
    setMode(bridge, 8);
    ASSERT_EQ(bridge.write(0x60FE, 1, 0x5), 0u);
    EXPECT_EQ(bridge.readInt(0x60FD, 0), 0) << "outputs off until enabled";
    ASSERT_EQ(bridge.write(0x60FE, 2, 15), 0u);
    EXPECT_EQ(bridge.readInt(0x60FD, 0), 0x5);
    EXPECT_EQ(bridge.readInt(0x68FD, 0), 0);
    // Outside CPIO mode controlword bits 4..7 are not outputs.
    const auto in = bridge.cycleAll(0x00FF);
    EXPECT_EQ(bridge.device.axis(0).outputs(), 0x5);
    EXPECT_EQ(in.statusword[0] & 0x6F, 0x27);
}

}  // namespace
