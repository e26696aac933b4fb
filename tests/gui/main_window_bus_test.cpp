// The main window against a simulated bus: the scan from the page, the axis
// modes each tab sets on the bridges, and what each Quit sends.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>
#include <vector>

#include "app/gui/main_window.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "gui_fixture.hpp"
#include "motor/gui/para_set.hpp"
#include "settings/settings_values.hpp"
#include "support/axis_display.hpp"
#include "support/exchange_wait.hpp"
#include "support/recording_clock.hpp"
#include "support/wait_until.hpp"
#include "tools/axis_modes.hpp"

namespace {

using guitest::Page;
using guitest::RecordedBoxes;
using guitest::ScanFromPage;
using guitest::ScannedBus;
using guitest::WorkFolder;
using testsupport::Child;
using testsupport::WaitWithEvents;

constexpr int kBridgeSlaves[] = {1, 3};  // ZR12, IO, ZR02

// Every axis of both bridges, read over the bus, is in `mode`.
void ExpectAxesInMode(const ScannedBus& bus, int mode) {
    for (int slave : kBridgeSlaves) {
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(bus.axisMode(slave, axis), mode) << "slave " << slave << " axis " << axis;
        }
    }
}

// The pauses `step` takes on `clock`.
std::vector<int> PausesOf(const testsupport::RecordingClock& clock,
                          const std::function<void()>& step) {
    const size_t before = clock.pauses.size();
    step();
    return {clock.pauses.begin() + static_cast<std::ptrdiff_t>(before), clock.pauses.end()};
}

// A switch of the eight axes to another mode: 30 ms after each write, then 100.
std::vector<int> EightAxesThen100() {
    std::vector<int> pauses(8, 30);
    pauses.push_back(100);
    return pauses;
}

// The change to the MailBox tab: the outputs reset, three times 50 ms, then the
// homing mode.
std::vector<int> ToTheMailBoxTab() {
    std::vector<int> pauses = {50, 50, 50};
    for (const int pause : EightAxesThen100()) pauses.push_back(pause);
    return pauses;
}

// The procedures' pauses are recorded, not slept; the bridges' axes show a
// written mode at once, as those pauses would have let them.
void OnTheProcedureClock(ScannedBus& bus) {
    for (const int slave : kBridgeSlaves) testsupport::ShowWrittenModesAtOnce(bus.segment(), slave);
}

// On the procedure clock (the caller's), the change to the CiA402 tab: every
// axis in mode 8.
void ToTheCia402Tab(ScannedBus& bus, CDuZEraDezorav1Dlg& window) {
    OnTheProcedureClock(bus);
    Child<QTabBar>(&window, "tabBar")->setCurrentIndex(2);
    ExpectAxesInMode(bus, 8);
}

// A fresh folder whose settings file makes the tool scan a fresh simulated bus.
class MainWindowOnBus : public ::testing::Test {
  protected:
    void SetUp() override { folder.writeSettings(settingsLines()); }

    // The bus's settings with "Send after clear" off, which the TQL page, made
    // before the file is read, must still show.
    std::vector<std::string> settingsLines() const {
        std::vector<std::string> lines = bus.settingsLines();
        lines[7] = "0";
        return lines;
    }

    WorkFolder folder;
    ScannedBus bus{guitest::Pacing::Fast};
    RecordedBoxes boxes;
};

TEST_F(MainWindowOnBus, ScanLogIsShownAndEachTabSetsItsAxisMode) {
    CDuZEraDezorav1Dlg window;
    ASSERT_NO_FATAL_FAILURE(ScanFromPage(bus, window));
    testsupport::RecordingClock clock;
    OnTheProcedureClock(bus);

    QTextEdit* view = Child<QTextEdit>(Page(&window, 0), "scanLog");
    const auto shownWhole = [&] {
        QString log = QString::fromStdWString(g_strScanLog.copy());
        return view->toPlainText() == log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    };
    ASSERT_TRUE(WaitWithEvents(shownWhole, 10));
    const QString shown = view->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("( 3 ) slaves Device found\n")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("S[1]:Torvanelix ZR12")));
    EXPECT_TRUE(shown.contains(QStringLiteral("S[3]:Torvanelix ZR02")));
    const qsizetype online = shown.indexOf(QStringLiteral("ONline"));
    ASSERT_GE(online, 0);
    QTextCursor cursor(view->document());
    cursor.setPosition(static_cast<int>(online) + 1);
    EXPECT_EQ(cursor.charFormat().foreground().color(), QColor(0, 0, 255));

    // The device commands see the slaves the scan found: "ParameterSet" opens its
    // dialog.
    EXPECT_EQ(guitest::RunModal([&] { window.OnParameterSet(); }), g_dlgParaSet);

    auto* tabBar = Child<QTabBar>(&window, "tabBar");
    EXPECT_EQ(PausesOf(clock, [&] { tabBar->setCurrentIndex(1); }), EightAxesThen100());
    EXPECT_EQ(g_bridgeMode.load(), kTqlPage);
    EXPECT_EQ(g_moveStop.load(), 1);
    EXPECT_TRUE(Page(&window, 1)->isVisible());
    EXPECT_FALSE(Child<QCheckBox>(Page(&window, 1), "sendAfterClear")->isChecked());
    ExpectAxesInMode(bus, 101);

    tabBar->setCurrentIndex(2);
    EXPECT_EQ(g_bridgeMode.load(), kCia402Page);
    EXPECT_EQ(g_cpioReapply.load(), 1);
    ExpectAxesInMode(bus, 8);

    EXPECT_EQ(PausesOf(clock, [&] { tabBar->setCurrentIndex(3); }), ToTheMailBoxTab());
    EXPECT_EQ(g_bridgeMode.load(), kCoePage);
    ExpectAxesInMode(bus, 6);

    tabBar->setCurrentIndex(0);
    EXPECT_EQ(g_bridgeMode.load(), kConfigSlavePage);
    EXPECT_EQ(g_moveStop.load(), 1);
    EXPECT_TRUE(Page(&window, 0)->isVisible());
    EXPECT_FALSE(Page(&window, 3)->isVisible());
    ExpectAxesInMode(bus, 6);
    EXPECT_TRUE(boxes.texts().empty());
}

// The switch to mode 8 shows its fault for each bridge whose axes do not all
// report the mode, and the tab change goes on.
TEST_F(MainWindowOnBus, TheCia402TabReportsABridgeThatDoesNotShowModeEight) {
    CDuZEraDezorav1Dlg window;
    ASSERT_NO_FATAL_FAILURE(ScanFromPage(bus, window));
    testsupport::RecordingClock clock;
    testsupport::ShowWrittenModesAtOnce(bus.segment(), 1);
    {
        auto lock = bus.segment().lock();
        auto& bridge = dynamic_cast<ecsim::BridgeDevice&>(bus.segment().slave(3).device());
        bridge.dictionary().find(0x7061, 0)->onUpload = [](std::vector<uint8_t>& out) {
            out = {0};
            return ecsim::abort_code::None;
        };
    }
    Child<QTabBar>(&window, "tabBar")->setCurrentIndex(2);
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"Error Mode Change fault!!!"});
    EXPECT_EQ(g_cpioReapply.load(), 1);
    EXPECT_EQ(g_bridgeMode.load(), kCia402Page);
}

// The MailBox tab first puts every axis into enable operation and gives that
// time to reach the bridges, before it writes the homing mode. Seen on an axis in
// mode 8 that is switched on but not enabled, with a target far away: only the
// enable command that reaches it while it is still in mode 8 moves it.
TEST_F(MainWindowOnBus, TheMailBoxTabEnablesTheAxesOnTheBusBeforeTheHomingMode) {
    CDuZEraDezorav1Dlg window;
    ASSERT_NO_FATAL_FAILURE(ScanFromPage(bus, window));
    g_moveStop = 1;
    {
        testsupport::RecordingClock clock;
        OnTheProcedureClock(bus);
        EXPECT_TRUE(SetAllMotorsCspMode().empty());
    }
    ExpectAxesInMode(bus, 8);
    // The bridge takes a written mode a few cycles after the write. (No need to
    // let the window paint meanwhile.)
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
            auto lock = bus.segment().lock();
            auto& bridge = dynamic_cast<ecsim::BridgeDevice&>(bus.segment().slave(1).device());
            return bridge.axis(0).modeDisplay() == 8;
        },
        10));
    for (int slot = 0; slot < 8; ++slot) g_ctrlWord[slot] = 0x0007;
    const int slot = MotorSlot(0, 1);
    ASSERT_TRUE(
        testsupport::WaitUntil([&] { return (g_statusWord[slot].load() & 0x6F) == 0x23; }, 10))
        << "the axis is not switched on";
    const int32_t before = g_actualPos[slot].load();
    g_targetPos[slot] = before + 50000;

    // Each pause of the tab change lets the outputs as they stand go out, as a
    // real one would: the enable command reaches the bridges only in those.
    testsupport::RecordingClock clock;
    clock.onPause = [](int) { EXPECT_TRUE(testsupport::WaitForExchange()); };
    EXPECT_EQ(PausesOf(clock, [&] { Child<QTabBar>(&window, "tabBar")->setCurrentIndex(3); }),
              ToTheMailBoxTab());
    // As the tab change ends: an enable sent only now has not moved the axis yet.
    EXPECT_GT(g_actualPos[slot].load(), before)
        << "the enable command did not reach the bridge before its homing mode";
    ExpectAxesInMode(bus, 6);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(g_ctrlWord[i].load(), 0x000F) << i;
        EXPECT_EQ(g_digOut[i].load(), 0u) << i;
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(MainWindowOnBus, MenuQuitLeavesTheAxesQuitButtonReturnsThemToMode101) {
    {
        CDuZEraDezorav1Dlg window;
        ASSERT_NO_FATAL_FAILURE(ScanFromPage(bus, window));
        testsupport::RecordingClock clock;
        ToTheCia402Tab(bus, window);
        g_slaveCount = 2;
        EXPECT_EQ(
            PausesOf(clock, [&] { guitest::MenuItem(&window, "mainMenu", "Quit")->trigger(); }),
            std::vector<int>{1000});
        EXPECT_EQ(window.result(), QDialog::Accepted);
        EXPECT_EQ(g_busPause.load(), 1);
        ExpectAxesInMode(bus, 8);
        std::vector<std::string> expected = settingsLines();
        expected[2] = "2";
        EXPECT_EQ(folder.readSettings(), expected);
    }
    {
        testsupport::RecordingClock clock;
        CDuZEraDezorav1Dlg window;
        window.OnInitDialog();
        window.show();
        // 500 ms for the threads to see the pause, mode 101, 100 ms after the
        // replies are drained.
        std::vector<int> quit = {500};
        for (const int pause : EightAxesThen100()) quit.push_back(pause);
        quit.push_back(100);
        EXPECT_EQ(PausesOf(clock,
                           [&] {
                               QTest::mouseClick(Child<QPushButton>(&window, "quitButton"),
                                                 Qt::LeftButton);
                           }),
                  quit);
        EXPECT_EQ(window.result(), QDialog::Accepted);
        ExpectAxesInMode(bus, 101);
    }
    EXPECT_TRUE(boxes.texts().empty());
}

// The Quit button leaves a bridge the bus has lost alone: no mode write and no
// drain waits for it, while the other bridge is returned to mode 101.
TEST_F(MainWindowOnBus, QuitSkipsALostBridge) {
    CDuZEraDezorav1Dlg window;
    ASSERT_NO_FATAL_FAILURE(ScanFromPage(bus, window));
    testsupport::RecordingClock clock;
    ToTheCia402Tab(bus, window);
    SendTqlLine(3, 1, "?99.1");  // a reply waits in the lost bridge's queue
    SetSlaveLost(3, true);
    QTest::mouseClick(Child<QPushButton>(&window, "quitButton"), Qt::LeftButton);
    EXPECT_EQ(window.result(), QDialog::Accepted);
    SetSlaveLost(3, false);
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(bus.axisMode(1, axis), 101) << axis;
        EXPECT_EQ(bus.axisMode(3, axis), 8) << axis;
    }
    EXPECT_TRUE(ReadMotorResponse(3, 1).starts_with("Ux")) << "the lost bridge was drained";
    EXPECT_TRUE(boxes.texts().empty());
}

}  // namespace
