// Homing from the CoE page of the main window on a scanned ZR12, IO, ZR02
// segment: the status field's texts and colours, Stop hm on the run's own motor
// whatever the list shows later, and a run cut short by leaving the page. The
// procedures' pauses are on a recording clock: one waits only until the
// exchange has carried a controlword it set, and the bridges' axes show a
// written mode at once, as the real pauses let them.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>

#include "app/gui/main_window.hpp"
#include "bus/globals.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "gui_fixture.hpp"
#include "support/axis_display.hpp"
#include "support/exchange_wait.hpp"
#include "support/recording_clock.hpp"
#include "tools/coe_access.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/homing.hpp"
#include "tools/tools_state.hpp"

namespace {

using guitest::RecordedBoxes;
using guitest::ScannedBus;
using guitest::WorkFolder;
using testsupport::Child;
using testsupport::WaitWithEvents;

constexpr int kZr02Slave = 3;

void Type(const char* field, const QString& text) {
    guitest::Type(g_dlgCatTools, field, text);
}

QString Status() {
    return Child<QLineEdit>(g_dlgCatTools, "homingStatusEdit")->text();
}

QColor StatusColour() {
    return Child<QLineEdit>(g_dlgCatTools, "homingStatusEdit")->palette().color(QPalette::Text);
}

class HomingPage : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetToolsState();
        folder_.writeSettings(bus_.settingsLines());
        ASSERT_NO_FATAL_FAILURE(guitest::ScanFromPage(bus_, window_));
        clock_.onPause = testsupport::CarryNewControlWords();
        testsupport::ShowWrittenModesAtOnce(bus_.segment(), 1);
        testsupport::ShowWrittenModesAtOnce(bus_.segment(), kZr02Slave);
        Child<QTabBar>(&window_, "tabBar")->setCurrentIndex(kCoePage);
        ASSERT_TRUE(WaitWithEvents(
            [] { return Child<QComboBox>(g_dlgCatTools, "slaveCombo")->count() == 3; }, 10));
        clock_.pauses.clear();
    }
    void TearDown() override { ResetToolsState(); }

    ecsim::HomingState AxisHoming(int slave, int channel) {
        auto lock = bus_.segment().lock();
        auto& bridge = dynamic_cast<ecsim::BridgeDevice&>(
            bus_.segment().slave(static_cast<size_t>(slave)).device());
        return bridge.axis(static_cast<size_t>(channel - 1)).homing();
    }
    // Starts a homing so slow (switch-search speed 1) that only a halt or a
    // mode switch ends it, and waits until the page shows it running.
    void StartSlowRun() {
        Type("hmOffsetEdit", "5000");
        Type("hmSpeed1Edit", "1");
        Child<QPushButton>(g_dlgCatTools, "hmStartButton")->click();
        ASSERT_EQ(g_homingActive.load(), 1);
        ASSERT_TRUE(
            WaitWithEvents([] { return Status().startsWith("Homing Run ( Elapsed time: "); }, 10));
    }

    WorkFolder folder_;
    ScannedBus bus_;
    RecordedBoxes boxes_;
    testsupport::RecordingClock clock_;
    CDuZEraDezorav1Dlg window_;
};

TEST_F(HomingPage, ARunEndsBlueAtTheOffsetAndStopHmHaltsTheRunsOwnMotor) {
    Type("hmOffsetEdit", "1500");
    Type("hmSpeed1Edit", "100");
    Child<QPushButton>(g_dlgCatTools, "hmStartButton")->click();
    EXPECT_EQ(clock_.pauses, (std::vector<int>{50, 50, 50, 50, 50, 200, 200}));
    EXPECT_EQ(StatusColour(), QColor(0, 0, 100));
    ASSERT_TRUE(WaitWithEvents([] { return g_homingActive.load() == 0; }, 20));
    EXPECT_TRUE(QRegularExpression(R"(^Homing Run End\. Time \( \d+ \) \.\.\.\.\.$)")
                    .match(Status())
                    .hasMatch())
        << Status().toStdString();
    ASSERT_TRUE(WaitWithEvents([] { return StatusColour() == QColor(0, 0, 255); }, 5));
    EXPECT_EQ(g_actualPos[MotorSlot(0, 1)].load(), 1500);

    ASSERT_NO_FATAL_FAILURE(StartSlowRun());
    // Another bridge and motor picked meanwhile do not take the halt.
    Child<QComboBox>(g_dlgCatTools, "slaveCombo")->setCurrentIndex(kZr02Slave - 1);
    Child<QComboBox>(g_dlgCatTools, "motorCombo")->setCurrentIndex(1);
    clock_.pauses.clear();
    Child<QPushButton>(g_dlgCatTools, "stopHmButton")->click();
    EXPECT_EQ(clock_.pauses, std::vector<int>(6, 50));
    ASSERT_TRUE(WaitWithEvents([] { return g_homingActive.load() == 0; }, 10));
    EXPECT_TRUE(Status().startsWith("Homing Run ERROR  timeOut , Time ( "))
        << Status().toStdString();
    ASSERT_TRUE(WaitWithEvents([] { return StatusColour() == QColor(255, 0, 255); }, 5));
    EXPECT_EQ(AxisHoming(1, 1), ecsim::HomingState::Failed);
    EXPECT_EQ(AxisHoming(kZr02Slave, 2), ecsim::HomingState::NotStarted);
    EXPECT_TRUE(boxes_.texts().empty());

    // Stop hm without a run does nothing.
    Child<QPushButton>(g_dlgCatTools, "stopHmButton")->click();
    EXPECT_EQ(g_ctrlWord[MotorSlot(0, 1)].load(), 0x000F);
}

TEST_F(HomingPage, LeavingThePageMidRunEndsTheRunAsAHomingError) {
    ASSERT_NO_FATAL_FAILURE(StartSlowRun());
    Child<QTabBar>(&window_, "tabBar")->setCurrentIndex(kCia402Page);
    // In cyclic position mode bit 12 says "following", not "homing attained".
    ASSERT_TRUE(
        WaitWithEvents([] { return (g_statusWord[MotorSlot(0, 1)].load() & 0x1000) != 0; }, 10));
    ASSERT_TRUE(WaitWithEvents([] { return g_homingActive.load() == 0; }, 10));
    EXPECT_FALSE(Status().contains("Homing Run End")) << Status().toStdString();
    EXPECT_TRUE(Status().startsWith("Homing Run ERROR  timeOut , Time ( "))
        << Status().toStdString();
    EXPECT_EQ(g_homingResult.load(), kHomingError);
    EXPECT_TRUE(WaitWithEvents([] { return StatusColour() == QColor(255, 0, 255); }, 5));
}

}  // namespace
