#include "motor/uart_speed_switch.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "motor/motor_setup.hpp"
#include "motor_bus.hpp"

namespace {

using namespace std::chrono_literals;

using motortest::MotorBus;
using motortest::RecordedBoxes;

bool RunSwitch(int slave) {
    return testsupport::WaitUntil(
        [] { return g_baudMode == 0; }, 30,
        {.between = [slave] { RunSpeedChangePhase(slave); }, .pause = 1ms});
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

TEST(UartSpeedSwitch, UnlocksAndTellsEachMotorBeforeTheChannelsFollow) {
    using motortest::Line;
    using motortest::Write;
    MotorBus bus("ZR12,ZR02");
    RecordedBoxes boxes;
    // No blank lines; the unlock line before the K20 line of every motor; the
    // window is opened again for the channel codes (phase 1).
    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    ASSERT_TRUE(RunSwitch(1));
    EXPECT_EQ(
        bus.received(1),
        (std::vector<std::string>{
            Write(0xF550, 3, 0x6D3F1), Line(1, "W.1=358"), Line(2, "W.1=358"), Line(3, "W.1=6042"),
            Line(4, "W.1=6042"), Line(1, "K20.1=6"), Line(2, "K20.1=6"), Line(3, "K20.1=8"),
            Line(4, "K20.1=8"), Write(0xF550, 3, 0x6D3F1), Write(0xF511, 2, 6), Write(0xF512, 2, 6),
            Write(0xF513, 2, 6), Write(0xF514, 2, 6), Write(0xF550, 3, 0)}));

    ASSERT_TRUE(RequestUartSpeedChange(2, kBaudMode38400));
    ASSERT_TRUE(RunSwitch(2));
    EXPECT_EQ(
        bus.received(2),
        (std::vector<std::string>{
            Write(0xF550, 3, 0x6D3F1), Line(1, "W.1=6042"), Line(2, "W.1=6042"),
            Line(3, "W.1=6042"), Line(4, "W.1=6042"), Line(1, "K20.1=0"), Line(2, "K20.1=0"),
            Line(3, "K20.1=0"), Line(4, "K20.1=0"), Write(0xF550, 3, 0x6D3F1), Write(0xF511, 2, 0),
            Write(0xF512, 2, 0), Write(0xF513, 2, 0), Write(0xF514, 2, 0), Write(0xF550, 3, 0)}));
    EXPECT_EQ(boxes.texts(), (std::vector<std::wstring>{Report(1, 3), Report(2, 1)}));
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
