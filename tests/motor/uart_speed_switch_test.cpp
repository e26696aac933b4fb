#include "motor/uart_speed_switch.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "motor/motor_setup.hpp"
#include "motor_bus.hpp"

namespace {

using namespace std::chrono_literals;

using motortest::MotorBus;

// Ticks the switch on `slave` until the request is done; what the phases said,
// in order.
std::vector<std::wstring> RunSwitch(int slave) {
    std::vector<std::wstring> said;
    for (int tick = 0; tick < 10 && g_baudMode != 0; ++tick) {
        std::wstring say = RunSpeedChangePhase(slave);
        if (!say.empty()) said.push_back(std::move(say));
    }
    EXPECT_EQ(g_baudMode, 0) << "the request is still pending";
    return said;
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
    testsupport::RecordingClock clock;
    for (int slave = 1; slave <= 3; ++slave) {
        SCOPED_TRACE(slave);
        ASSERT_TRUE(RequestUartSpeedChange(slave, kBaudMode170k));
        EXPECT_TRUE(bus.bridge(slave).configWindowOpen());
        EXPECT_EQ(RunSwitch(slave), std::vector<std::wstring>{Report(slave, 3)});
        ExpectSpeed(bus, slave, ecsim::SerialSpeed::Baud170k, kUartCode170k);

        ASSERT_TRUE(RequestUartSpeedChange(slave, kBaudMode38400));
        EXPECT_EQ(RunSwitch(slave), std::vector<std::wstring>{Report(slave, 1)});
        ExpectSpeed(bus, slave, ecsim::SerialSpeed::Baud38400, kUartCode38400);
    }
    EXPECT_EQ(g_baudErrors, 0);
}

// What a switch sends to a bridge and the pauses between, as AccessTimeline
// merges them: the request, phase 0 (the unlock line of each motor's kind,
// then its K20 line), phase 1 (the channel codes inside the window, opened
// again) and phase 2 (closing it). `unlock` and `k20` are the lines of
// channels 1 to 4; a ZR01 or ZR02 (`slowLines`) waits 40 ms after a group of
// lines, a ZR12 20 ms (the K20 lines of 38400 bit/s: 20 ms on every model).
std::vector<std::string> ExpectedSwitch(const std::vector<std::string>& unlock,
                                        const std::vector<std::string>& k20, int code,
                                        bool slowLines) {
    using motortest::Line;
    using motortest::Write;
    std::vector<std::string> sent;
    const auto pause = [&](int ms) { sent.push_back(testsupport::PauseText(ms)); };
    const bool k20Slowly = slowLines && code == 6;
    sent.push_back(Write(0xF550, 3, 0x6D3F1));
    pause(50);
    for (int c = 1; c <= 4; ++c) {
        sent.push_back(Line(c, unlock[c - 1]));
        pause(20);
    }
    pause(slowLines ? 40 : 20);
    for (int c = 1; c <= 4; ++c) {
        sent.push_back(Line(c, k20[c - 1]));
        pause(20);
    }
    pause(k20Slowly ? 40 : 20);
    sent.push_back(Write(0xF550, 3, 0x6D3F1));
    pause(40);
    for (int c = 1; c <= 4; ++c) {
        sent.push_back(Write(static_cast<uint16_t>(0xF510 + c), 2, code));
        pause(20);
    }
    pause(40);
    sent.push_back(Write(0xF550, 3, 0));
    return sent;
}

TEST(UartSpeedSwitch, UnlocksAndTellsEachMotorBeforeTheChannelsFollow) {
    MotorBus bus("ZR12,ZR02,ZR01");
    testsupport::RecordingClock clock;
    // No blank lines; the unlock line before the K20 line of every motor; the
    // window is opened again for the channel codes (phase 1).
    const struct {
        int slave;
        int32_t mode;
        std::vector<std::string> unlock;
        std::vector<std::string> k20;
        int code;
        bool slowLines;
    } cases[] = {
        {1,
         kBaudMode170k,
         {"W.1=358", "W.1=358", "W.1=6042", "W.1=6042"},
         {"K20.1=6", "K20.1=6", "K20.1=8", "K20.1=8"},
         6,
         false},
        {2,
         kBaudMode38400,
         {"W.1=6042", "W.1=6042", "W.1=6042", "W.1=6042"},
         {"K20.1=0", "K20.1=0", "K20.1=0", "K20.1=0"},
         0,
         true},
        {3,
         kBaudMode170k,
         {"W.1=358", "W.1=358", "W.1=358", "W.1=358"},
         {"K20.1=6", "K20.1=6", "K20.1=6", "K20.1=6"},
         6,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slave);
        std::vector<std::wstring> said;
        EXPECT_EQ(bus.traced(clock, c.slave,
                             [&] {
                                 ASSERT_TRUE(RequestUartSpeedChange(c.slave, c.mode));
                                 said = RunSwitch(c.slave);
                             }),
                  ExpectedSwitch(c.unlock, c.k20, c.code, c.slowLines));
        EXPECT_EQ(said, std::vector<std::wstring>{Report(c.slave, c.mode)});
    }
}

TEST(UartSpeedSwitch, ANonBridgeLeavesTheRequestPendingUntilABridgeIsChosen) {
    MotorBus bus("ZR12,IO");
    testsupport::RecordingClock clock;
    ASSERT_TRUE(RequestUartSpeedChange(2, kBaudMode170k));
    // No traffic beyond the window write of the press, nothing to say.
    const uint64_t frames = bus.frames();
    for (int tick = 0; tick < 3; ++tick) EXPECT_EQ(RunSpeedChangePhase(2), L"");
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(clock.pauses, std::vector<int>{50});  // the press's pause only
    EXPECT_EQ(g_baudMode, kBaudMode170k);
    EXPECT_EQ(g_baudPhase, 0);
    EXPECT_EQ(g_baudErrors, 1);

    // Either button is without effect while the request is pending.
    EXPECT_FALSE(RequestUartSpeedChange(1, kBaudMode38400));
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(g_baudMode, kBaudMode170k);

    // The bridge chosen now was never opened by the request; the switch opens
    // the window of the bridge it sets, so the channels follow their motors.
    EXPECT_EQ(RunSwitch(1), std::vector<std::wstring>{Report(1, 3)});
    ExpectSpeed(bus, 1, ecsim::SerialSpeed::Baud170k, kUartCode170k);
}

TEST(UartSpeedSwitch, TheChannelsFollowTheMotorsThatWereToldWhateverIsChosenLater) {
    MotorBus bus("ZR12,ZR01");
    testsupport::RecordingClock clock;
    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    EXPECT_EQ(RunSpeedChangePhase(1), L"");
    ASSERT_EQ(g_baudPhase, 1);

    // Another bridge chosen before the channels are set: its motors were never
    // told, so its channels stay where its motors listen.
    EXPECT_EQ(RunSwitch(2), std::vector<std::wstring>{Report(1, 3)});
    ExpectSpeed(bus, 1, ecsim::SerialSpeed::Baud170k, kUartCode170k);
    ExpectSpeed(bus, 2, ecsim::SerialSpeed::Baud38400, kUartCode38400);
}

TEST(UartSpeedSwitch, AnUnknownModelIsReportedAndTheRequestDropped) {
    MotorBus bus("ZR12");
    testsupport::RecordingClock clock;
    g_bridgeModel[0] = 7;
    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    EXPECT_EQ(RunSpeedChangePhase(1), L"Error 8888");
    EXPECT_EQ(g_baudMode, 0);
    // The dialog's timer ticks while the box is open: the request is gone.
    const uint64_t frames = bus.frames();
    EXPECT_EQ(RunSpeedChangePhase(1), L"");
    EXPECT_EQ(bus.frames(), frames);
    EXPECT_EQ(g_baudErrors, 1);
    EXPECT_FALSE(bus.bridge(1).configWindowOpen());
    EXPECT_EQ(bus.motor(1, 1).param(20), 0);
}

}  // namespace
