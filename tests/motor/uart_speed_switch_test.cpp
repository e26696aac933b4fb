#include "motor/uart_speed_switch.hpp"

#include <gtest/gtest.h>

#include <string>

#include "motor/motor_setup.hpp"
#include "motor_bus.hpp"

namespace {

using motortest::MotorBus;
using motortest::RecordedBoxes;

bool RunSwitch(int slave) {
    return motortest::StepUntil([slave] { RunSpeedChangePhase(slave); },
                                [] { return g_baudMode == 0; }, 30);
}

std::wstring Report(int slave, int mode) {
    return L"UartSpeedChange OK\r\nSlaveNo = " + std::to_wstring(slave) + L" ,SpeedNo = " +
           std::to_wstring(mode) + L" ";
}

void ExpectSpeed(MotorBus& bus, int slave, ecsim::SerialSpeed speed, uint32_t code) {
    for (int c = 1; c <= 4; ++c) {
        SCOPED_TRACE("slave " + std::to_string(slave) + " channel " + std::to_string(c));
        const ecsim::TqlMotor& motor = bus.motor(slave, c);
        EXPECT_EQ(motor.serialSpeed(), speed);
        if (speed == ecsim::SerialSpeed::Baud170k) {
            EXPECT_EQ(motor.param(20), motor.kind() == ecsim::MotorKind::A ? 6 : 8);
        }
        EXPECT_EQ(bus.bridge(slave).channelSpeedCode(static_cast<size_t>(c - 1)), code);
    }
    EXPECT_FALSE(bus.bridge(slave).configWindowOpen());
}

TEST(UartSpeedSwitch, BothWaysOnEveryBridgeModel) {
    MotorBus bus("ZR01,ZR02,ZR12");
    RecordedBoxes boxes;
    for (int slave = 1; slave <= 3; ++slave) {
        SCOPED_TRACE(slave);
        ASSERT_TRUE(RequestUartSpeedChange(slave, kBaudMode170k));
        EXPECT_TRUE(bus.bridge(slave).configWindowOpen());
        ASSERT_TRUE(RunSwitch(slave));
        EXPECT_EQ(boxes.texts().back(), Report(slave, 3));
        ExpectSpeed(bus, slave, ecsim::SerialSpeed::Baud170k, kUartCode170k);

        ASSERT_TRUE(RequestUartSpeedChange(slave, kBaudMode38400));
        ASSERT_TRUE(RunSwitch(slave));
        EXPECT_EQ(boxes.texts().back(), Report(slave, 1));
        ExpectSpeed(bus, slave, ecsim::SerialSpeed::Baud38400, kUartCode38400);
    }
    EXPECT_EQ(boxes.texts().size(), 6u);
    EXPECT_EQ(g_baudErrors, 0);
}

TEST(UartSpeedSwitch, ANonBridgeLeavesTheRequestPendingUntilABridgeIsChosen) {
    MotorBus bus("ZR12,IO");
    RecordedBoxes boxes;
    ASSERT_TRUE(RequestUartSpeedChange(2, kBaudMode170k));
    // No traffic beyond the window write of the press.
    const uint64_t frames = bus.frames();
    for (int tick = 0; tick < 3; ++tick) RunSpeedChangePhase(2);
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(g_baudMode, kBaudMode170k);
    EXPECT_EQ(g_baudPhase, 0);
    EXPECT_EQ(g_baudErrors, 1);
    EXPECT_TRUE(boxes.texts().empty());

    // Either button is without effect while the request is pending.
    EXPECT_FALSE(RequestUartSpeedChange(1, kBaudMode38400));
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(g_baudMode, kBaudMode170k);

    // The bridge chosen now was never opened by the request; the switch opens
    // the window of the bridge it sets, so the channels follow their motors.
    ASSERT_TRUE(RunSwitch(1));
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{Report(1, 3)});
    ExpectSpeed(bus, 1, ecsim::SerialSpeed::Baud170k, kUartCode170k);
}

TEST(UartSpeedSwitch, TheChannelsFollowTheMotorsThatWereToldWhateverIsChosenLater) {
    MotorBus bus("ZR12,ZR01");
    RecordedBoxes boxes;
    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    RunSpeedChangePhase(1);
    ASSERT_EQ(g_baudPhase, 1);

    // Another bridge chosen before the channels are set: its motors were never
    // told, so its channels stay where its motors listen.
    ASSERT_TRUE(RunSwitch(2));
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{Report(1, 3)});
    ExpectSpeed(bus, 1, ecsim::SerialSpeed::Baud170k, kUartCode170k);
    ExpectSpeed(bus, 2, ecsim::SerialSpeed::Baud38400, kUartCode38400);
}

TEST(UartSpeedSwitch, AnUnknownModelIsReportedAndTheRequestDropped) {
    MotorBus bus("ZR12");
    RecordedBoxes boxes;
    g_bridgeModel[0] = 7;
    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    // The dialog's timer ticks while the box is open.
    int ticksInBox = 0;
    boxes.onBox([&](const std::wstring&) {
        if (ticksInBox++ == 0) RunSpeedChangePhase(1);
    });
    RunSpeedChangePhase(1);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"Error 8888"});
    EXPECT_EQ(g_baudMode, 0);
    EXPECT_EQ(g_baudErrors, 1);
    EXPECT_FALSE(bus.bridge(1).configWindowOpen());
    EXPECT_EQ(bus.motor(1, 1).param(20), 0);
}

}  // namespace
