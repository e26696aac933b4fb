// The axis-mode operations write every axis of every bridge on an operational
// simulated segment.
#include "tools/axis_modes.hpp"

#include <gtest/gtest.h>

#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ethercat.h"

namespace {

using testsupport::BusThreadsTest;
using testsupport::WaitUntil;

constexpr int kBridges = 2;
constexpr int32_t kFarAway = 100000000;

int16_t AxisObject(int bridge, int axis, uint16_t base) {
    int16_t value = -1;
    ReadObjectInt16(static_cast<uint16_t>(g_bridgeSlave[bridge].load()),
                    static_cast<uint16_t>(base + axis * 0x800), &value);
    return value;
}

void ExpectEveryAxis(int16_t mode, uint16_t control) {
    for (int b = 0; b < kBridges; ++b) {
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(AxisObject(b, axis, 0x6060), mode) << "bridge " << b << " axis " << axis;
            EXPECT_EQ(g_ctrlWord[MotorSlot(b, axis + 1)], control);
        }
    }
}

int32_t TargetInImage(int bridge, int motor) {
    auto lock = LockProcessImage();
    const uint8_t* p = ec_slave[0].outputs + g_bridgeOutOffset[bridge] + 6 * (motor - 1) + 2;
    return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24);
}

TEST_F(BusThreadsTest, ModeSwitchesReachEveryAxis) {
    ScanToOp("ZR12,ZR02", kBridges);
    EXPECT_EQ(SetAllMotorsHomingMode(), 0);
    ExpectEveryAxis(kModeHoming, 0x0007);
    EXPECT_EQ(SetAllMotorsMode101(), 0);
    ExpectEveryAxis(kModeTql, 0x0007);
    EXPECT_EQ(SetCpioMode(1), 0);
    ExpectEveryAxis(kModeCpio, 0xC00F);
    EXPECT_EQ(SetCpioMode(0), 0);
    ExpectEveryAxis(kModeCsp, 0x000F);
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(BusThreadsTest, SwitchingToCspHoldsEveryAxisAtItsActualPosition) {
    ScanToOp("ZR12,ZR02", kBridges);
    g_moveStop = 1;
    // Targets far from where the axes stand: an axis in mode 8 moves toward its
    // target in bounded steps, so it is still on its way when the switch pins
    // every target to the actual position.
    SetAllMotorsMode101();
    for (int slot = 0; slot < kBridges * 4; ++slot) g_targetPos[slot] = kFarAway + slot;
    EXPECT_EQ(SetAllMotorsCspMode(), 0);
    EXPECT_TRUE(boxes_.texts().empty()) << "a bridge did not report mode 8";
    for (int b = 0; b < kBridges; ++b) {
        for (int m = 1; m <= 4; ++m) {
            const int slot = MotorSlot(b, m);
            EXPECT_EQ(g_targetPos[slot], g_actualPos[slot]) << slot;
            EXPECT_NE(g_targetPos[slot], kFarAway + slot);
            EXPECT_EQ(AxisObject(b, m - 1, 0x6061), kModeCsp);
        }
    }
    // The image carries the same targets (the packing may have refreshed them).
    EXPECT_TRUE(WaitUntil([] { return TargetInImage(1, 4) == g_targetPos[MotorSlot(1, 4)]; }));
}

}  // namespace
