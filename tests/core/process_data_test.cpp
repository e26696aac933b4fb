// The process-data thread and the service loop on an operational segment.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "bus/process_image.hpp"
#include "core/bus_fixture.hpp"
#include "ethercat.h"
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
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(g_cycleCount, cycles);
    EXPECT_EQ(segment().framesProcessed(), frames);
    auto image = LockProcessImage();
    const uint8_t* channel = ec_slave[0].outputs + g_bridgeOutOffset[0];
    EXPECT_NE(channel[1], 0x0F) << "the controlword was packed while paused";
}

TEST_F(BusThreadsTest, TheRampDrivesAnAxisToItsGoalThroughTheBus) {
    ScanToOp("ZR12", 1);
    g_moveStop = 1;
    SetAllMotorsCspMode();
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
