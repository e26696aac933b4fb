// The axis-mode operations write every axis of every bridge on an operational
// simulated segment.
#include "tools/axis_modes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "core/bus_fixture.hpp"
#include "ethercat.h"
#include "support/coe_test_device.hpp"

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

// The switch writes each axis's target into its own channel's target field and
// nowhere else: not over a controlword, not into the neighbours' bytes.
TEST_F(BusThreadsTest, SwitchingToCspWritesOnlyTheTargetFieldsOfTheBlock) {
    ScanToOp("IO,ZR12,IO", 3);
    ASSERT_EQ(g_bridgeCount, 1);
    ASSERT_EQ(g_bridgeOutOffset[0], 2u);
    // Without the threads nothing else writes the image: what it holds afterwards
    // is the switch's doing alone.
    StopBusThreads();
    const int32_t actual[4] = {0x01020304, -2, 0x7F6E5D4C, -0x12345678};
    for (int m = 1; m <= 4; ++m) g_actualPos[MotorSlot(0, m)] = actual[m - 1];
    const size_t area = ec_slave[0].Obytes;
    ASSERT_EQ(area, 28u);  // 2 + 24 + 2
    {
        auto lock = LockProcessImage();
        std::fill_n(ec_slave[0].outputs, area, uint8_t{0xA5});
        std::fill_n(ec_slave[0].outputs + 2, 24, uint8_t{0xEE});
    }
    EXPECT_EQ(SetAllMotorsCspMode(), 0);
    EXPECT_TRUE(boxes_.texts().empty());

    std::vector<uint8_t> expected = {0xA5, 0xA5};
    for (const int32_t value : actual) {
        const auto bits = static_cast<uint32_t>(value);
        expected.insert(expected.end(),
                        {0xEE, 0xEE, static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                         static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)});
    }
    expected.insert(expected.end(), {0xA5, 0xA5});
    auto lock = LockProcessImage();
    EXPECT_EQ(std::vector<uint8_t>(ec_slave[0].outputs, ec_slave[0].outputs + area), expected);
}

// A bridge whose axes take every mode written and keep showing mode 0; counts
// the reads of axis 1's mode display.
std::shared_ptr<std::atomic<int>> FitStuckBridge(ecsim::Segment& segment, size_t position) {
    auto reads = std::make_shared<std::atomic<int>>(0);
    auto device = std::make_unique<testsupport::CoeTestDevice>();
    auto& od = device->od();
    od.addString(0x1008, 0, "Torvanelix ZR02");
    od.addString(0x100A, 0, "V1.00");
    od.addU32(0x1018, 1, 0x0A3E, ecsim::Access::ReadOnly);
    od.addU32(0x1018, 4, 7, ecsim::Access::ReadOnly);
    for (int axis = 0; axis < 4; ++axis) {
        const auto offset = static_cast<uint16_t>(axis * 0x800);
        od.addI8(static_cast<uint16_t>(0x6060 + offset), 0, 0);
        ecsim::Entry display;
        display.type = ecsim::DataType::Integer8;
        display.access = ecsim::Access::ReadOnly;
        display.value = {0};
        if (axis == 0) {
            display.onUpload = [reads](std::vector<uint8_t>& data) {
                reads->fetch_add(1);
                data = {0};
                return ecsim::abort_code::None;
            };
        }
        od.add(static_cast<uint16_t>(0x6061 + offset), 0, display);
    }
    device->addMapping(testsupport::kBridgeBits);
    segment.replaceDevice(position, std::move(device));
    return reads;
}

TEST_F(BusThreadsTest, EachBridgeIsReadBackOnItsOwnAndReportedOnItsOwn) {
    StartThreadsOn("ZR12,ZR02", kBridges);
    const auto reads = FitStuckBridge(segment(), 2);
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_inOp.load() == 1; }, 60));
    const std::wstring scanLog = g_strScanLog.copy();
    ASSERT_EQ(g_bridgeCount, kBridges) << std::string(scanLog.begin(), scanLog.end());
    g_moveStop = 1;
    // The first bridge switches; the second starts with its flags clear, gets all
    // 50 passes and its own fault.
    EXPECT_EQ(SetAllMotorsCspMode(), 0);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"Error Mode Change fault!!!"});
    EXPECT_EQ(reads->load(), 50);
    for (int axis = 0; axis < 4; ++axis) EXPECT_EQ(AxisObject(0, axis, 0x6061), kModeCsp);
}

// Without a bridge the switches touch no controlword and show nothing.
TEST_F(BusThreadsTest, WithoutBridgesTheSwitchesWriteNothing) {
    g_bridgeSlave[0] = 1;
    for (auto& control : g_ctrlWord) control = 0x1234;
    EXPECT_EQ(SetAllMotorsMode101(), 0);
    EXPECT_EQ(SetAllMotorsHomingMode(), 0);
    EXPECT_EQ(SetAllMotorsCspMode(), 0);
    EXPECT_EQ(SetCpioMode(1), 0);
    for (const auto& control : g_ctrlWord) EXPECT_EQ(control, 0x1234);
    EXPECT_TRUE(boxes_.texts().empty());
}

}  // namespace
