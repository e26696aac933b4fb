#include "motor/tq_init.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "motor_bus.hpp"

namespace {

using motortest::MotorBus;

class RecordingView : public TqInitView {
  public:
    void showStatus(const std::string& text) override { statuses.push_back(text); }
    void showProgress(int position) override { progress.push_back(position); }
    std::string status() const { return statuses.empty() ? "" : statuses.back(); }

    std::vector<std::string> statuses;
    std::vector<int> progress;
};

// Starts a run on `slave` and ticks it on the same slave until it stops.
bool RunInit(int slave, RecordingView& view) {
    if (!StartTqInit(slave, view)) return false;
    return motortest::StepUntil([&] { RunInitStep(slave, view); },
                                [] { return g_tqInitRunning == 0; }, 60);
}

void ExpectInitialised(MotorBus& bus, int slave, std::initializer_list<int> channels) {
    for (const int c : channels) {
        const ecsim::TqlMotor& motor = bus.motor(slave, c);
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(motor.param(16), 4);
        EXPECT_EQ(motor.param(23), 9);
        EXPECT_EQ(motor.param(70), 0);
        EXPECT_EQ(motor.param(67), 1);
        EXPECT_EQ(motor.param(37), 10);
        EXPECT_EQ(motor.serialSpeed(), ecsim::SerialSpeed::Baud170k);
        EXPECT_EQ(motor.param(20), motor.kind() == ecsim::MotorKind::A ? 6 : 8);
        EXPECT_EQ(bus.bridge(slave).channelSpeedCode(static_cast<size_t>(c - 1)), kUartCode170k);
    }
}

TEST(TqInit, AHealthyBridgeEndsOkWithMotorsAndChannelsAt170k) {
    MotorBus bus("ZR12,IO,ZR02");
    RecordingView view;
    ASSERT_TRUE(RunInit(3, view));
    EXPECT_EQ(view.status(), "TQ Init Parameter OK.");
    EXPECT_EQ(g_tqInitOk, 1);
    EXPECT_EQ(g_tqInitError, 0);
    EXPECT_EQ(g_tqInitStep, 0);
    EXPECT_EQ(view.statuses,
              (std::vector<std::string>{"Step< 1 >", "Step< 2 >", "Step< 3 >", "Step< 4 >",
                                        "Step< 5 >", "TQ Init Parameter OK."}));
    EXPECT_EQ(view.progress, (std::vector<int>{1, 2, 3, 5}));
    for (int c = 0; c < 4; ++c) EXPECT_EQ(g_tqParamMatchCount[c], 5);
    ExpectInitialised(bus, 3, {1, 2, 3, 4});
    EXPECT_FALSE(bus.bridge(3).configWindowOpen());

    // Answers left over from earlier queries are drained first, not counted.
    ASSERT_EQ(SendTqlLine(3, 1, kParamQueryLine), 0);
    ASSERT_EQ(SendTqlLine(3, 1, kParamQueryLine), 0);
    EXPECT_EQ(VerifyMotorParameters(3), 0);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(g_tqParamMatchCount[c], 5);
    EXPECT_EQ(bus.bridge(3).pendingReplies(0), 0u);

    // A second run starts from 170 kbit/s and succeeds again; a press during a
    // run changes nothing.
    ASSERT_TRUE(StartTqInit(3, view));
    EXPECT_FALSE(StartTqInit(3, view));
    ASSERT_TRUE(motortest::StepUntil([&] { RunInitStep(3, view); },
                                     [] { return g_tqInitRunning == 0; }, 60));
    EXPECT_EQ(view.status(), "TQ Init Parameter OK.");
    ExpectInitialised(bus, 3, {1, 2, 3, 4});
    EXPECT_EQ(bus.motor(1, 1).serialSpeed(), ecsim::SerialSpeed::Baud38400);  // not touched
}

TEST(TqInit, AMissingMotorOnACheckedChannelFailsUntilItsChannelIsUnchecked) {
    MotorBus bus("ZR01:124");
    RecordingView view;
    ASSERT_TRUE(RunInit(1, view));
    EXPECT_EQ(view.status(), "ID3 ERROR! ; (0) ;");
    EXPECT_EQ(g_tqInitError, 1);
    EXPECT_EQ(g_tqInitOk, 0);
    EXPECT_EQ(g_tqInitStep, 0);
    EXPECT_EQ(view.progress.back(), 4);
    EXPECT_TRUE(bus.bridge(1).configWindowOpen());  // only a finished run closes it
    ExpectInitialised(bus, 1, {1, 2, 4});

    g_tqInitCheckOnline[2] = 0;
    view.statuses.clear();
    ASSERT_TRUE(RunInit(1, view));
    EXPECT_EQ(view.status(), "TQ Init Parameter OK.");
    EXPECT_EQ(g_tqInitError, 0);
    EXPECT_EQ(g_tqInitOk, 1);
    EXPECT_FALSE(bus.bridge(1).configWindowOpen());
}

TEST(TqInit, ASlaveThatIsNoBridgeStopsAtOnce) {
    MotorBus bus("ZR12,IO");
    RecordingView view;
    ASSERT_TRUE(RunInit(2, view));
    EXPECT_EQ(view.status(), "SlaveNo Error !");
    EXPECT_EQ(g_tqInitStep, 0);  // left where it stopped
    EXPECT_EQ(bus.motor(1, 1).param(20), 0);

    // A bad step value ends the run too.
    g_tqInitRunning = 1;
    g_tqInitStep = 6;
    RunInitStep(1, view);
    EXPECT_EQ(view.status(), "Error 001.");
    EXPECT_EQ(g_tqInitRunning, 0);
    EXPECT_EQ(g_tqInitStep, 0);
}

TEST(TqInitFailureList, ListsCheckedChannelsWhoseCountIsNotFive) {
    const std::array<bool, 4> all = {true, true, true, true};
    EXPECT_EQ(TqInitFailureList({5, 3, 5, 0}, all), "ID2 ERROR! ; (3) ;ID4 ERROR! ; (0) ;");
    EXPECT_EQ(TqInitFailureList({6, 5, 5, 4}, all), "ID1 ERROR! (6) ;ID4 ERROR! ; (4) ;");
    EXPECT_EQ(TqInitFailureList({5, 5, 0, 5}, {true, true, false, true}), "");
    EXPECT_EQ(TqInitFailureList({5, 5, 5, 5}, all), "");
}

}  // namespace
