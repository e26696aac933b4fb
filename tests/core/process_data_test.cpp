// The process-data thread and the service loop on an operational segment.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "bus/process_image.hpp"
#include "core/bus_fixture.hpp"
#include "ethercat.h"
#include "support/recording_clock.hpp"
#include "tools/axis_modes.hpp"

namespace {

using testsupport::BusThreadsTest;
using testsupport::WaitUntil;

TEST_F(BusThreadsTest, WhilePausedNoFrameGoesOutAndNothingIsPacked) {
    ScanToOp("ZR12", 1);
    g_busPause = 1;
    // Let an exchange that was under way finish.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int32_t cycles = g_cycleCount;
    const uint64_t frames = segment().framesProcessed();
    g_ctrlWord[0] = 0x0F0F;
    // A hundred cycles or so on the fast bus clock.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(g_cycleCount, cycles);
    EXPECT_EQ(segment().framesProcessed(), frames);
    auto image = LockProcessImage();
    const uint8_t* channel = ec_slave[0].outputs + g_bridgeOutOffset[0];
    EXPECT_NE(channel[1], 0x0F) << "the controlword was packed while paused";
}

int32_t TargetInImage(int bridge, int motor) {
    auto lock = LockProcessImage();
    const uint8_t* p = ec_slave[0].outputs + g_bridgeOutOffset[bridge] + 6 * (motor - 1) + 2;
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24);
}

// Exchanges that come back short are not served: the image keeps what was last
// packed until the working counter is whole again.
TEST_F(BusThreadsTest, OnlyExchangesWithTheFullWorkingCounterArePacked) {
    ScanToOp("ZR12,ZR02", 2);
    g_moveStop = 1;
    // The second slave goes: the first one still answers, so the count is short
    // but not zero.
    segment().powerOff(2);
    const auto shortCount = [] { return g_wkc.load() > 0 && g_wkc.load() < g_expectedWkc.load(); };
    ASSERT_TRUE(WaitUntil(shortCount));
    const int32_t seen = g_cycleCount;
    ASSERT_TRUE(WaitUntil([&] { return g_cycleCount.load() > seen + 1; }));
    const int32_t packed = g_lastPackedCycle;
    const int32_t cycles = g_cycleCount;
    const int slot = MotorSlot(0, 2);
    g_targetPos[slot] = 0x12345678;
    ASSERT_TRUE(WaitUntil([&] { return g_cycleCount.load() > cycles + 5; }));
    EXPECT_TRUE(shortCount());
    EXPECT_EQ(g_lastPackedCycle, packed);
    EXPECT_NE(TargetInImage(0, 2), 0x12345678);
    // Back whole again, the next exchange is served.
    segment().powerOn(2);
    EXPECT_TRUE(WaitUntil([] { return TargetInImage(0, 2) == 0x12345678; }));
}

TEST_F(BusThreadsTest, TheRampDrivesAnAxisToItsGoalThroughTheBus) {
    ScanToOp("ZR12", 1);
    g_moveStop = 1;
    {
        // The switch's own pauses are not what this is about.
        testsupport::RecordingClock clock;
        SetAllMotorsCspMode();
    }
    const int slot = MotorSlot(0, 2);
    const int32_t goal = g_actualPos[slot] + 50000;
    g_movePos[slot] = goal;
    g_moveSpeed[slot] = 2000;
    g_moveStop = 0;
    EXPECT_TRUE(WaitUntil([&] { return g_actualPos[slot].load() == goal; }));
    EXPECT_EQ(g_targetPos[slot], goal);
    // The other axes had no START: they stay where they are.
    EXPECT_EQ(g_targetPos[MotorSlot(0, 1)], g_actualPos[MotorSlot(0, 1)]);
}

}  // namespace
