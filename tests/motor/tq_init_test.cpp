#include "motor/tq_init.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "motor_bus.hpp"

namespace {

using namespace std::chrono_literals;

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
    return testsupport::WaitUntil([] { return g_tqInitRunning == 0; }, 60,
                                  {.between = [&] { RunInitStep(slave, view); }, .pause = 1ms});
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

// Everything a run sends to a bridge whose motors take every line, from the
// start button to the closing of the window, with `checks` read-back checks,
// and the pauses between, as AccessTimeline merges them. `kinds` is the motor
// kind ('A' or 'B') of channels 1 to 4; a ZR01 or ZR02 (`slowLines`) waits
// 20 ms more after each group of lines; a run that fails its checks leaves the
// window open (`closes` false).
std::vector<std::string> ExpectedRun(const char (&kinds)[5], bool slowLines, int checks,
                                     bool closes = true) {
    using motortest::Line;
    using motortest::Read;
    using motortest::Write;
    const std::string blank = "  \r\n";
    std::vector<std::string> sent;
    const auto pause = [&](int ms) { sent.push_back(testsupport::PauseText(ms)); };
    const auto eachChannel = [&](const std::function<void(int, bool)>& send) {
        for (int c = 1; c <= 4; ++c) send(c, kinds[c - 1] == 'A');
    };
    const auto setupLines = [&](const std::function<const char*(bool)>& line) {
        eachChannel([&](int c, bool a) {
            sent.push_back(Line(c, blank));
            pause(20);
            sent.push_back(Line(c, line(a)));
            pause(20);
        });
    };
    const auto unlockGroup = [&] {
        setupLines([](bool a) { return a ? "W.1=358" : "W.1=6042"; });
        if (slowLines) pause(20);
    };
    const auto channelCodes = [&](int code) {
        eachChannel([&](int c, bool) {
            sent.push_back(Write(uint16_t(0xF510 + c), 2, code));
            pause(20);
        });
    };

    sent.push_back(Write(0xF550, 3, 0x6D3F1));  // the start button opens the window
    pause(10);
    // Step 0: unlock, motors and channels to 38400 bit/s.
    unlockGroup();
    pause(120);
    setupLines([](bool) { return "K20.1=0"; });
    pause(150);
    channelCodes(0);
    pause(50);
    // Step 1: the parameter set.
    pause(100);
    setupLines([](bool) { return "K16.1=4,K23.1=9,K70.1=0,K67.1=1,K37.1=10"; });
    pause(20);
    // Step 2: unlock again, motors and channels to 170 kbit/s.
    pause(100);
    unlockGroup();
    pause(20);
    setupLines([](bool a) { return a ? "K20.1=6" : "K20.1=8"; });
    if (slowLines) pause(20);
    pause(50);
    channelCodes(6);
    pause(20);
    pause(200);
    // Steps 3 and 4: drain (nothing pending: one read each), query without a
    // blank line, ten rounds of reads.
    for (int check = 0; check < checks; ++check) {
        pause(check == 0 ? 10 : 100);
        eachChannel([&](int c, bool) {
            pause(10);
            sent.push_back(Read(uint16_t(0xF590 + c)));
        });
        pause(50);
        eachChannel([&](int c, bool) {
            sent.push_back(Line(c, "K16.1,K23.1,K70.1,K67.1,K37.1"));
            pause(20);
        });
        pause(50);
        for (int round = 0; round < 10; ++round) {
            pause(20);
            eachChannel([&](int c, bool) {
                pause(20);
                sent.push_back(Read(uint16_t(0xF590 + c)));
            });
        }
    }
    if (closes) sent.push_back(Write(0xF550, 3, 0));  // step 5 closes it
    return sent;
}

TEST(TqInit, SendsExactlyTheLinesOfItsStepsInOrder) {
    MotorBus bus("ZR12");
    testsupport::RecordingClock clock;
    RecordingView view;
    const auto sent = bus.traced(clock, 1, [&] { ASSERT_TRUE(RunInit(1, view)); });
    EXPECT_EQ(view.status(), "TQ Init Parameter OK.");
    EXPECT_EQ(sent, ExpectedRun("AABB", false, 1));
}

TEST(TqInit, AnUncheckedMissingMotorEndsAfterTheFirstCheck) {
    // Channel 3 has no motor: the first check finds three channels at 5 and an
    // unchecked one, an empty failure list, and goes straight to the end.
    MotorBus bus("ZR01:124");
    testsupport::RecordingClock clock;
    RecordingView view;
    g_tqInitCheckOnline[2] = 0;
    const auto sent = bus.traced(clock, 1, [&] { ASSERT_TRUE(RunInit(1, view)); });
    EXPECT_EQ(view.statuses,
              (std::vector<std::string>{"Step< 1 >", "Step< 2 >", "Step< 3 >", "Step< 4 >",
                                        "Step< 5 >", "TQ Init Parameter OK."}));
    EXPECT_EQ(view.progress, (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(g_tqParamMatchCount[2], 0);
    EXPECT_EQ(sent, ExpectedRun("AAAA", true, 1));
}

TEST(TqInit, AHealthyBridgeEndsOkWithMotorsAndChannelsAt170k) {
    MotorBus bus("ZR12,IO,ZR02");
    testsupport::RecordingClock clock;
    RecordingView view;
    const auto sent = bus.traced(clock, 3, [&] { ASSERT_TRUE(RunInit(3, view)); });
    EXPECT_EQ(sent, ExpectedRun("BBBB", true, 1));
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
    ASSERT_TRUE(testsupport::WaitUntil([] { return g_tqInitRunning == 0; }, 60,
                                       {.between = [&] { RunInitStep(3, view); }, .pause = 1ms}));
    EXPECT_EQ(view.status(), "TQ Init Parameter OK.");
    ExpectInitialised(bus, 3, {1, 2, 3, 4});
    EXPECT_EQ(bus.motor(1, 1).serialSpeed(), ecsim::SerialSpeed::Baud38400);  // not touched
}

TEST(TqInit, AMissingMotorOnACheckedChannelFailsUntilItsChannelIsUnchecked) {
    MotorBus bus("ZR01:124");
    testsupport::RecordingClock clock;
    RecordingView view;
    const auto sent = bus.traced(clock, 1, [&] { ASSERT_TRUE(RunInit(1, view)); });
    EXPECT_EQ(view.status(), "ID3 ERROR! ; (0) ;");
    // Both checks ran; the window stays open.
    EXPECT_EQ(sent, ExpectedRun("AAAA", true, 2, false));
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
    testsupport::RecordingClock clock;
    RecordingView view;
    ASSERT_TRUE(RunInit(2, view));
    EXPECT_EQ(view.status(), "SlaveNo Error !");
    EXPECT_EQ(clock.pauses, std::vector<int>{10});  // the start's pause only
    EXPECT_EQ(g_tqInitStep, 0);                     // left where it stopped
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
