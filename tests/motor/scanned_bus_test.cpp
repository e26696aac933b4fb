#include <gtest/gtest.h>

#include <string>

#include "bus/bus_threads.hpp"
#include "motor/motor_bus.hpp"
#include "motor/motor_setup.hpp"
#include "motor/uart_speed_switch.hpp"

namespace {

using namespace std::chrono_literals;

using testsupport::WaitUntil;

class NullView : public TqInitView {
  public:
    void showStatus(const std::string& text) override { status = text; }
    void showProgress(int) override {}
    std::string status;
};

ecsim::BridgeDevice& Bridge(testsupport::VirtualBus& bus, int slave) {
    return dynamic_cast<ecsim::BridgeDevice&>(bus.segment().slave(slave).device());
}

// The motor set-up on a bus that the tool's own threads scanned and keep
// exchanging process data with, as the user meets it.
TEST(OnTheToolsScannedBus, InitialisationAndSpeedSwitchWhileTheBusThreadsRun) {
    testsupport::ResetAllLayers();
    testsupport::VirtualBus bus("ZR12,IO,ZR02");
    g_selectLan = 1;
    g_lanName.set(bus.name());
    g_slaveCount = 3;
    StartBusThreads();
    g_scanRequest = 1;
    ASSERT_TRUE(WaitUntil([] { return g_busReady == 1 && g_inOp == 1; }, 60));
    ASSERT_EQ(g_bridgeCount, 2);
    ASSERT_EQ(g_bridgeSlave[1], 3);

    // The procedures' pauses on a clock of their own; the threads run on.
    testsupport::RecordingClock clock;
    NullView view;
    ASSERT_TRUE(StartTqInit(3, view));
    ASSERT_TRUE(WaitUntil([] { return g_tqInitRunning == 0; }, 60,
                          {.between = [&] { RunInitStep(3, view); }, .pause = 1ms}));
    EXPECT_EQ(view.status, "TQ Init Parameter OK.");

    ASSERT_TRUE(RequestUartSpeedChange(1, kBaudMode170k));
    std::wstring said;
    ASSERT_TRUE(WaitUntil([] { return g_baudMode == 0; }, 30,
                          {.between = [&] { said += RunSpeedChangePhase(1); }, .pause = 1ms}));
    EXPECT_EQ(said, L"UartSpeedChange OK\r\nSlaveNo = 1 ,SpeedNo = 3 ");

    StopBusThreads();
    for (size_t c = 0; c < 4; ++c) {
        EXPECT_EQ(Bridge(bus, 3).motor(c)->param(37), 10);
        EXPECT_EQ(Bridge(bus, 3).channelSpeedCode(c), kUartCode170k);
        EXPECT_EQ(Bridge(bus, 1).motor(c)->serialSpeed(), ecsim::SerialSpeed::Baud170k);
        EXPECT_EQ(Bridge(bus, 1).channelSpeedCode(c), kUartCode170k);
    }
    testsupport::ResetAllLayers();
}

}  // namespace
