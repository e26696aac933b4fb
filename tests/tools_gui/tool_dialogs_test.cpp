// The firmware update and board initialisation dialogs on a simulated bus. The
// firmware run's pauses are on a recording clock, its time moved on by the
// dialog's ticks, and the simulated loader erases at once.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "bus/sdo_text.hpp"
#include "ecsim/firmware_loader.hpp"
#include "support/qt_helpers.hpp"
#include "support/recording_clock.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/self_up_date_program.hpp"
#include "tools/tool_bus.hpp"

namespace {

using namespace std::chrono_literals;
using motortest::RecordedBoxes;
using testsupport::Child;
using testsupport::RunEventsFor;
using testsupport::WaitWithEvents;
using tooltest::TempFile;
using tooltest::ToolBus;

QString Status(QWidget* dialog) {
    return Child<QLineEdit>(dialog, "status")->text();
}

class SoftUpDate : public ::testing::Test {
  protected:
    void SetUp() override {
        dialog_.SetFileChooser([this](QWidget*) { return chosen_; });
    }
    // OpenFile with `path` chosen in the file dialog.
    void Open(const std::string& path) {
        chosen_ = QString::fromStdString(path);
        Child<QPushButton>(&dialog_, "openFileButton")->click();
    }
    QString Shown() { return Child<QLineEdit>(&dialog_, "fileEdit")->text(); }
    void Press(const char* button) { Child<QPushButton>(&dialog_, button)->click(); }
    // Runs the dialog's events, the run's time going on 25 ms a turn, until
    // `done` holds.
    bool RunUntil(const std::function<bool()>& done) {
        return testsupport::WaitUntil(done, 30, {.between = [this] {
                                          clock_.Advance(25);
                                          testsupport::ProcessEvents();
                                      }});
    }

    testsupport::RecordingClock clock_;
    RecordedBoxes boxes_;
    SelfUpDateProgram dialog_;
    QString chosen_;
};

TEST_F(SoftUpDate, ARunStandsStillWhileClosedAndEndsWellWhenOpenedAgain) {
    ToolBus bus("IO,ZR02");
    bus.bridge(2).setLoaderEraseTime(0ms);
    EXPECT_EQ(dialog_.windowTitle(), "SoftUpDate");
    TempFile image(ecsim::sampleFirmwareImage());
    dialog_.show();
    Open(image.path());
    EXPECT_EQ(Shown(), QString::fromStdString("[ " + image.path() + " ]"));
    Child<QComboBox>(&dialog_, "slaveCombo")->setCurrentIndex(1);
    Press("startButton");
    EXPECT_EQ(Status(&dialog_), "SelfPrgStart....");
    ASSERT_TRUE(RunUntil([] { return g_selfPrgLines >= 20; })) << Status(&dialog_).toStdString();

    // Escape and Enter leave it open; Quit closes it and the run stands still.
    QTest::keyClick(&dialog_, Qt::Key_Escape);
    QTest::keyClick(&dialog_, Qt::Key_Return);
    EXPECT_TRUE(dialog_.isVisible());
    Press("quitButton");
    EXPECT_FALSE(dialog_.isVisible());
    const int32_t at = g_selfPrgReadPos;
    RunEventsFor(300ms);
    EXPECT_EQ(g_selfPrgReadPos, at);
    EXPECT_EQ(g_selfPrgState, 3);

    // Opened again: the list is back at its first entry, yet neither Start nor
    // another file disturbs the run, which goes on where it stood.
    dialog_.show();
    EXPECT_EQ(Child<QComboBox>(&dialog_, "slaveCombo")->currentIndex(), 0);
    EXPECT_EQ(Child<QProgressBar>(&dialog_, "progress")->value(), 0);
    TempFile other("S9030000FC\r\n");
    Open(other.path());
    Child<QComboBox>(&dialog_, "slaveCombo")->setCurrentIndex(1);
    Press("startButton");
    EXPECT_EQ(boxes_.texts(), (std::vector<std::wstring>{L"SelfPrgRun!...", L"SelfPrgRun!..."}));
    EXPECT_EQ(Shown(), QString::fromStdString("[ " + image.path() + " ]"));
    ASSERT_TRUE(RunUntil([] { return g_selfPrgState == 0; }));
    EXPECT_EQ(Status(&dialog_), "SelfPrgOk , Lines= 131 ,lostCnt = 0");
    EXPECT_GT(Child<QProgressBar>(&dialog_, "progress")->value(), 90);
    EXPECT_EQ(boxes_.texts().back(), L"SlaveNo.2\r\nSoftware Update OK.");
    EXPECT_EQ(SdoReadAsText(2, 0x100A, 0, kCoeVisibleString), "V1.08");
}

TEST_F(SoftUpDate, OpenFileRefusesEmptyAndOversizedFilesKeepingTheOneBefore) {
    ToolBus bus("ZR02");
    dialog_.show();
    TempFile good("S9030000FC\r\n");
    Open(good.path());
    const QString shown = Shown();
    TempFile empty("");
    Open(empty.path());
    TempFile big(std::string(kFirmwareFileMaxBytes, '\n'));
    Open(big.path());
    Open("/nonexistent/x.srec");
    EXPECT_EQ(
        boxes_.texts(),
        (std::vector<std::wstring>{
            QString::fromStdString(empty.path() + "\nthe file is empty").toStdWString(),
            L"File too Big !!! Errpr ...", L"/nonexistent/x.srec\nNo such file or directory"}));
    EXPECT_EQ(Shown(), shown);
    EXPECT_EQ(g_selfPrgFileLen, 12);
    boxes_.clear();
    Open("");  // the file dialog cancelled
    EXPECT_TRUE(boxes_.texts().empty());
    EXPECT_EQ(Shown(), shown);
}

TEST_F(SoftUpDate, TheAutomaticRestartKeepsTheRunsBridge) {
    ToolBus bus("ZR02,ZR12");
    ecsim::FirmwareLoader::Faults faults;
    faults.refuseProgramMode = true;
    bus.bridge(1).setLoaderFaults(faults);
    TempFile image(ecsim::sampleFirmwareImage());
    dialog_.show();
    Open(image.path());
    Press("startButton");
    ASSERT_TRUE(RunUntil([] { return g_selfPrgRetry == 1; }));
    // The user picks the other bridge while the run waits to start again.
    Child<QComboBox>(&dialog_, "slaveCombo")->setCurrentIndex(1);
    ASSERT_TRUE(RunUntil([] { return g_selfPrgState == 0; }));
    EXPECT_EQ(Status(&dialog_), "SelfPrgError-001");
    EXPECT_EQ(g_selfPrgSlave, 1);
    EXPECT_FALSE(bus.bridge(2).unlocked()) << "nothing went to the bridge chosen later";
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST(InitBoardDialog, SetsTheChosenBridgeAndKeepsItsFieldsForTheNextOpening) {
    ToolBus bus("IO,ZR12");
    RecordedBoxes boxes;
    BoardInit dialog;
    EXPECT_EQ(dialog.windowTitle(), "InitBoard");
    dialog.show();
    auto* combo = Child<QComboBox>(&dialog, "slaveCombo");
    ASSERT_EQ(combo->count(), 2);
    QTest::keyClicks(Child<QLineEdit>(&dialog, "serialEdit"), "123");
    Child<QRadioButton>(&dialog, "radioZR02")->click();

    // The first entry is no bridge: nothing happens.
    Child<QPushButton>(&dialog, "boardInitSetButton")->click();
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_FALSE(bus.bridge(2).unlocked());

    combo->setCurrentIndex(1);
    Child<QPushButton>(&dialog, "boardInitSetButton")->click();
    EXPECT_EQ(boxes.texts(),
              std::vector<std::wstring>{L"------ Set BoardInfo ----\r\nBoardBype : 0x00000002 (2)"
                                        L"\r\nBoardNo : 0x0000007b (123)"});
    EXPECT_EQ(bus.bridge(2).dictionary().getInt(0xF514, 1), 2);

    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(Child<QLineEdit>(&dialog, "serialEdit"), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    Child<QPushButton>(&dialog, "quitButton")->click();
    EXPECT_FALSE(dialog.isVisible());
    dialog.show();
    EXPECT_EQ(Child<QLineEdit>(&dialog, "serialEdit")->text(), "123");
    EXPECT_TRUE(Child<QRadioButton>(&dialog, "radioZR02")->isChecked());
    EXPECT_EQ(combo->currentIndex(), 0);
}

}  // namespace
