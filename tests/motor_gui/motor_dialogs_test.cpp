#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "motor/gui/option_set1.hpp"
#include "motor/gui/para_set.hpp"
#include "motor/gui/voze_rudadozira_vur.hpp"
#include "motor/motor_bus.hpp"
#include "motor/tq_init.hpp"
#include "motor/uart_speed_switch.hpp"
#include "settings/access_level.hpp"
#include "settings/settings_values.hpp"
#include "support/qt_helpers.hpp"

namespace {

using motortest::MotorBus;
using motortest::RecordedBoxes;
using testsupport::Child;
using testsupport::WaitWithEvents;
using namespace std::chrono_literals;

QString Status(QWidget* dialog) {
    return Child<QLineEdit>(dialog, "status")->text();
}
QColor StatusColour(QWidget* dialog) {
    return Child<QLineEdit>(dialog, "status")->palette().color(QPalette::Text);
}

TEST(InitTarnquiselDialog, ARunEndsOkAndGoesOnWhenTheDialogOpensAgain) {
    MotorBus bus("ZR12,IO");
    testsupport::RecordingClock clock;  // the procedures' pauses, not slept
    VozeRudadoziraVur dialog;
    EXPECT_EQ(dialog.windowTitle(), "InitTarnquisel");
    dialog.show();
    Child<QPushButton>(&dialog, "initButton")->click();
    EXPECT_EQ(Status(&dialog), "Step< 1 >");
    ASSERT_TRUE(WaitWithEvents([] { return g_tqInitStep >= 1; }, 30));

    // Closed mid-run: the ticks stop, the TQL page keeps its polling suspended.
    Child<QPushButton>(&dialog, "quitButton")->click();
    EXPECT_FALSE(dialog.isVisible());
    const int step = g_tqInitStep;
    testsupport::RunEventsFor(300ms);
    EXPECT_EQ(g_tqInitStep, step);
    EXPECT_EQ(g_tqInitRunning, 1);
    EXPECT_EQ(g_tqInitTickActive, 1);

    dialog.show();
    EXPECT_EQ(Status(&dialog), "");  // a fresh opening
    ASSERT_TRUE(WaitWithEvents([&] { return Status(&dialog) == "TQ Init Parameter OK."; }, 60));
    EXPECT_EQ(StatusColour(&dialog), QColor(0, 0, 255));
    EXPECT_EQ(Child<QProgressBar>(&dialog, "progress")->value(), 5);
    ASSERT_TRUE(WaitWithEvents([] { return g_tqInitTickActive == 0; }, 5));
    EXPECT_EQ(bus.motor(1, 3).param(37), 10);
    EXPECT_EQ(bus.bridge(1).channelSpeedCode(2), 6u);
}

TEST(InitTarnquiselDialog, TheFailureListInRedUntilTheMissingChannelIsUnchecked) {
    MotorBus bus("ZR02:134");
    testsupport::RecordingClock clock;  // the procedures' pauses, not slept
    VozeRudadoziraVur dialog;
    dialog.show();
    Child<QPushButton>(&dialog, "initButton")->click();
    ASSERT_TRUE(WaitWithEvents([] { return g_tqInitRunning == 0; }, 60));
    EXPECT_EQ(Status(&dialog), "ID2 ERROR! ; (0) ;");
    EXPECT_EQ(StatusColour(&dialog), QColor(255, 0, 0));
    // The longest list the read-back can give is seen whole: every channel listed,
    // three with two-digit counts (frame and inner margins left aside).
    auto* status = Child<QLineEdit>(&dialog, "status");
    const QString longest =
        QString::fromStdString(TqInitFailureList({10, 10, 10, 0}, {true, true, true, true}));
    EXPECT_LE(status->fontMetrics().horizontalAdvance(longest), status->contentsRect().width() - 8);

    Child<QCheckBox>(&dialog, "online2")->click();
    EXPECT_EQ(g_tqInitCheckOnline[1], 0);
    Child<QPushButton>(&dialog, "initButton")->click();
    ASSERT_TRUE(WaitWithEvents([] { return g_tqInitStep >= 1; }, 30));
    EXPECT_EQ(StatusColour(&dialog), QColor(0, 100, 0));  // a run in progress
    ASSERT_TRUE(WaitWithEvents([] { return g_tqInitRunning == 0; }, 60));
    EXPECT_EQ(Status(&dialog), "TQ Init Parameter OK.");

    // The boxes keep the user's choice from one opening to the next; Escape
    // leaves the dialog open and Enter outside a button closes it.
    dialog.hide();
    dialog.show();
    EXPECT_FALSE(Child<QCheckBox>(&dialog, "online2")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(&dialog, "online1")->isChecked());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    dialog.close();
    EXPECT_TRUE(dialog.isVisible());
    Child<QComboBox>(&dialog, "slaveCombo")->setFocus();
    QTest::keyClick(Child<QComboBox>(&dialog, "slaveCombo"), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(BaudrateSetDialog, SwitchesTheChosenBridgeAndReports) {
    MotorBus bus("ZR12,IO,ZR01");
    testsupport::RecordingClock clock;  // the procedures' pauses, not slept
    RecordedBoxes boxes;
    OptionSet1 dialog;
    EXPECT_EQ(dialog.windowTitle(), "BaudrateSet");
    dialog.show();
    auto* combo = Child<QComboBox>(&dialog, "slaveCombo");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->font().pixelSize(), 14);
    EXPECT_EQ(combo->font().weight(), QFont::Normal);  // light weights read as normal
    combo->setCurrentIndex(2);
    Child<QPushButton>(&dialog, "baud170kButton")->click();
    ASSERT_TRUE(WaitWithEvents([&] { return !boxes.texts().empty(); }, 30));
    EXPECT_EQ(boxes.texts()[0], L"UartSpeedChange OK\r\nSlaveNo = 3 ,SpeedNo = 3 ");
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(bus.motor(3, c).param(20), 6);
    EXPECT_EQ(bus.motor(1, 1).param(20), 0);

    // A request outlives the window: closed before its first tick, it runs when
    // the dialog opens again, on the slave then chosen (the first).
    boxes.clear();
    Child<QPushButton>(&dialog, "baud170kButton")->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    Child<QPushButton>(&dialog, "quitButton")->click();
    EXPECT_EQ(g_baudMode, kBaudMode170k);
    dialog.show();
    ASSERT_TRUE(WaitWithEvents([&] { return !boxes.texts().empty(); }, 30));
    EXPECT_EQ(boxes.texts()[0], L"UartSpeedChange OK\r\nSlaveNo = 1 ,SpeedNo = 3 ");
    EXPECT_EQ(bus.motor(1, 3).param(20), 8);
    EXPECT_EQ(bus.bridge(1).channelSpeedCode(3), 6u);
}

TEST(ParaSetDialog, ReadsOnOpeningAndWritesBack) {
    MotorBus bus("ZR12,IO");
    testsupport::RecordingClock clock;  // the procedures' pauses, not slept
    RecordedBoxes boxes;
    g_accessLevel = kMakerLevel;
    bus.bridge(1).dictionary().setInt(0xF540, 1, 10);
    bus.bridge(1).dictionary().setInt(0xF540, 3, 10);
    ParaSet dialog;
    EXPECT_EQ(dialog.windowTitle(), "ParaSet");
    dialog.show();
    auto* dravok = Child<QLineEdit>(&dialog, "edit_DravokMode");
    auto* debug = Child<QLineEdit>(&dialog, "edit_DEBUGSet");
    EXPECT_EQ(dravok->text(), "10");
    EXPECT_EQ(debug->text(), "00a");
    EXPECT_TRUE(debug->isVisible());

    dravok->clear();
    QTest::keyClicks(dravok, "12345");
    Child<QPushButton>(&dialog, "setWriteButton")->click();
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"DravokMode Data Error"});
    dravok->clear();
    QTest::keyClicks(dravok, "-77");
    Child<QPushButton>(&dialog, "setWriteButton")->click();
    EXPECT_EQ(bus.bridge(1).dictionary().getInt(0xF540, 1), -77);
    EXPECT_EQ(bus.bridge(1).dictionary().getInt(0xF540, 3), 10);

    // Another slave that is no bridge keeps what the fields show.
    Child<QComboBox>(&dialog, "slaveCombo")->setCurrentIndex(1);
    EXPECT_EQ(dravok->text(), "-77");

    // At the ordinary level DEBUGSet is neither shown nor read.
    Child<QPushButton>(&dialog, "quitButton")->click();
    g_accessLevel = 0;
    dialog.show();
    EXPECT_FALSE(debug->isVisible());
    EXPECT_EQ(debug->text(), "");
    EXPECT_EQ(dravok->text(), "-77");
}

}  // namespace
