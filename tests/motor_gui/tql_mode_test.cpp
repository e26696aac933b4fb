#include "motor/gui/tql_mode.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>

#include "motor/motor_bus.hpp"
#include "motor/tq_init.hpp"
#include "motor/tql_command.hpp"
#include "settings/settings_values.hpp"
#include "support/qt_helpers.hpp"

namespace {

using motortest::MotorBus;
using motortest::RecordedBoxes;
using testsupport::Child;

class TqlModePage : public ::testing::Test {
  protected:
    void SetUp() override {
        bus_ = std::make_unique<MotorBus>("ZR12,IO");
        g_bridgeMode = kTqlPage;
        page_ = std::make_unique<TqlMode>();
        page_->SetFileChooser([this](QWidget*) {
            ++chooserCalls_;
            return chosenFile_;
        });
        page_->show();
        page_->OnTimer();  // fills the board list
    }
    void TearDown() override {
        page_.reset();
        bus_.reset();
    }

    QLineEdit* command() { return Child<QLineEdit>(page_.get(), "commandEdit"); }
    QComboBox* board() { return Child<QComboBox>(page_.get(), "boardCombo"); }
    QComboBox* motor() { return Child<QComboBox>(page_.get(), "motorCombo"); }
    QString sentLog() { return Child<QPlainTextEdit>(page_.get(), "sentLog")->toPlainText(); }
    QString responses() { return Child<QPlainTextEdit>(page_.get(), "responseLog")->toPlainText(); }

    void Type(const QString& text) {
        command()->clear();
        QTest::keyClicks(command(), text);
        QTest::keyClick(command(), Qt::Key_Return);
    }
    void Tick(int times) {
        for (int i = 0; i < times; ++i) page_->OnTimer();
    }
    QString WriteFile(const std::string& data) {
        const QString path = dir_.filePath(QString("f%1.txt").arg(files_++));
        std::ofstream(path.toStdString(), std::ios::binary) << data;
        return path;
    }

    std::unique_ptr<MotorBus> bus_;
    std::unique_ptr<TqlMode> page_;
    RecordedBoxes boxes_;
    QTemporaryDir dir_;
    int files_ = 0;
    QString chosenFile_;
    int chooserCalls_ = 0;
};

TEST_F(TqlModePage, ListsAreFilledAndTheBoardListOnlyOnceTheBusIsReady) {
    EXPECT_EQ(motor()->count(), 5);
    EXPECT_EQ(motor()->itemText(0), "MotorID1");
    EXPECT_EQ(motor()->itemText(4), "MotorID1-ID4");
    EXPECT_EQ(board()->count(), 2);
    EXPECT_EQ(board()->itemText(1), "SlaveNo.02");

    g_busReady = 0;
    g_tqlBoardComboFilled = 0;
    TqlMode fresh;
    fresh.OnTimer();
    auto* freshBoard = Child<QComboBox>(&fresh, "boardCombo");
    EXPECT_EQ(freshBoard->count(), 0);
    // A line typed before the bus is up goes to the board the list shows once it is.
    auto* freshCommand = Child<QLineEdit>(&fresh, "commandEdit");
    QTest::keyClicks(freshCommand, "?99.1");
    g_busReady = 1;
    fresh.OnTimer();
    EXPECT_EQ(freshBoard->count(), 2);
    QTest::keyClick(freshCommand, Qt::Key_Return);
    EXPECT_EQ(g_strTqlLog.copy(), L"TQ[1.1]:?99.1\r\n");
    EXPECT_EQ(freshBoard->currentIndex(), 0);
    g_slaveCount = 5;
    fresh.OnTimer();  // filled once per run
    EXPECT_EQ(freshBoard->count(), 2);
}

TEST_F(TqlModePage, CommandsToOneMotorAndToAllFourWithTheirReplies) {
    Type("?99.1");
    motor()->setCurrentIndex(4);
    Type("?99.1");
    EXPECT_EQ(sentLog(), "TQ[1.1]:?99.1\nTQ[1.0]:?99.1\n");
    Tick(3);
    const QStringList lines = responses().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << responses().toStdString();
    EXPECT_TRUE(lines[0].startsWith("TQ[1.1]:Ux"));
    EXPECT_TRUE(lines[1].startsWith("TQ[1.2]:Ux"));
    EXPECT_TRUE(lines[3].startsWith("TQ[1.4]:Ux"));
    EXPECT_TRUE(lines[4].startsWith("TQ[1.1]:Ux"));
    EXPECT_EQ(g_tqlReplyLines, 5);
    for (size_t c = 0; c < 4; ++c) EXPECT_EQ(bus_->bridge(1).pendingReplies(c), 0u);

    // Nothing pending ('N') adds nothing.
    Tick(2);
    EXPECT_EQ(responses().count('\n'), 5);

    // The user may scroll back: a tick without replies leaves the view where it
    // is, and the next reply brings the end into view again.
    for (int i = 0; i < 8; ++i) SendTqlCommand(1, kTqlAllMotors, "?99.1");
    Tick(8);
    QScrollBar* scroll = Child<QPlainTextEdit>(page_.get(), "responseLog")->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    scroll->setValue(0);
    Tick(2);
    EXPECT_EQ(scroll->value(), 0);
    SendTqlCommand(1, 0, "?99.1");
    Tick(1);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_EQ(g_tqlReplyLines, 38);

    // ClearMess empties both logs; the reply count goes on.
    Child<QPushButton>(page_.get(), "clearMessButton")->click();
    EXPECT_EQ(sentLog(), "");
    EXPECT_EQ(responses(), "");
    EXPECT_EQ(g_strTqlLog.length(), 0u);
    EXPECT_EQ(g_tqlReplyLines, 38);
}

TEST_F(TqlModePage, LengthLimitsAndSendAfterClear) {
    auto* clearBox = Child<QCheckBox>(page_.get(), "sendAfterClear");
    EXPECT_TRUE(clearBox->isChecked());  // settings line 8 starts at 1

    // The settings are read after the page is made; it shows their state.
    g_tqlSendAfterClear = 0;
    page_->hide();
    page_->show();
    EXPECT_FALSE(clearBox->isChecked());
    clearBox->click();
    EXPECT_EQ(g_tqlSendAfterClear, 1);

    const QString thirty(30, 'A');
    Type(thirty);
    EXPECT_EQ(command()->text(), "");
    Type(thirty + "A");
    EXPECT_EQ(command()->text(), "");  // emptied even though refused
    command()->clear();
    QTest::keyClick(command(), Qt::Key_Return);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>(2, L"Motor Command Send Data Error!"));
    EXPECT_EQ(sentLog(), "TQ[1.1]:" + thirty + "\n");

    // A character that is no Latin-1 empties the text: an empty line goes out.
    command()->clear();
    QTest::keyClicks(command(), "K1");
    QKeyEvent euro(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x20AC)));
    QApplication::sendEvent(command(), &euro);
    QTest::keyClick(command(), Qt::Key_Return);
    EXPECT_EQ(sentLog(), "TQ[1.1]:" + thirty + "\nTQ[1.1]:\n");

    // The limit counts UTF-16 units: a character beyond U+FFFF counts twice.
    command()->clear();
    QTest::keyClicks(command(), QString(29, 'A'));
    QKeyEvent smile(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUcs4(U"\U0001F600"));
    QApplication::sendEvent(command(), &smile);
    QTest::keyClick(command(), Qt::Key_Return);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>(3, L"Motor Command Send Data Error!"));
    EXPECT_EQ(sentLog(), "TQ[1.1]:" + thirty + "\nTQ[1.1]:\n");

    clearBox->click();
    EXPECT_EQ(g_tqlSendAfterClear, 0);
    Type("K");  // one character goes as one byte
    EXPECT_EQ(command()->text(), "K");
    EXPECT_TRUE(sentLog().endsWith("TQ[1.1]:K\n"));

    // A board that is no bridge: nothing written, nothing logged, no message.
    board()->setCurrentIndex(1);
    boxes_.clear();
    const QString before = sentLog();
    Type("?99.1");
    EXPECT_EQ(sentLog(), before);
    EXPECT_TRUE(boxes_.texts().empty());
}

TEST_F(TqlModePage, EnterOnTheOtherControlsGoesNoFurther) {
    QDialog window;
    auto* page = new TqlMode(&window);
    auto* ok = new QPushButton("OK", &window);
    ok->setDefault(true);
    window.show();
    auto* combo = Child<QComboBox>(page, "motorCombo");
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Return);
    QTest::keyClick(Child<QPushButton>(page, "clearMessButton"), Qt::Key_Return);
    QTest::keyClick(Child<QLineEdit>(page, "commandEdit"), Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
}

TEST_F(TqlModePage, PollsOnlyOnItsOwnTabAndNotWhileTheInitialisationRuns) {
    SendTqlCommand(1, 0, "?99.1");
    g_bridgeMode = kCia402Page;
    Tick(2);
    g_bridgeMode = kTqlPage;
    g_tqInitTickActive = 1;
    Tick(2);
    g_tqInitTickActive = 0;
    g_busPause = 1;
    Tick(2);
    EXPECT_EQ(responses(), "");
    EXPECT_EQ(bus_->bridge(1).pendingReplies(0), 1u);
    g_busPause = 0;
    Tick(1);
    EXPECT_TRUE(responses().startsWith("TQ[1.1]:Ux"));

    // The 1000th reply line makes the log a single line end, shown with the next.
    g_tqlReplyLines = 999;
    SendTqlCommand(1, 1, "?99.1");
    Tick(1);
    EXPECT_EQ(responses().count('\n'), 2);
    SendTqlCommand(1, 2, "?99.1");
    Tick(1);
    EXPECT_EQ(g_tqlReplyLines, 1);
    EXPECT_TRUE(responses().startsWith("\nTQ[1.3]:Ux")) << responses().toStdString();
}

TEST_F(TqlModePage, AParameterFileGoesLineByLineOnAnyTab) {
    chosenFile_ = WriteFile("W.1=358\r\n\r\nK33.1=5\nK34.1=6");
    motor()->setCurrentIndex(1);
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    EXPECT_EQ(g_paramFileSending, 1);
    g_bridgeMode = kConfigSlavePage;
    ASSERT_TRUE(testsupport::WaitWithEvents([] { return g_paramFileSending == 0; }, 10));
    EXPECT_EQ(sentLog(), "TQ[1.2]:W.1=358\nTQ[1.2]:\nTQ[1.2]:K33.1=5\nTQ[1.2]:K34.1=6\n");
    EXPECT_EQ(bus_->motor(1, 2).param(33), 5);
    EXPECT_EQ(bus_->motor(1, 2).param(34), 6);
    EXPECT_TRUE(boxes_.texts().empty());

    // A line too long stops the send after the lines before it.
    chosenFile_ = WriteFile("K35.1=1\n" + std::string(60, 'K') + "\r\nK36.1=1\n");
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    ASSERT_TRUE(testsupport::WaitWithEvents([] { return g_paramFileSending == 0; }, 10));
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::wstring>{L"Motor Parameter Send Data Error!, 1Line too Big"});
    EXPECT_EQ(bus_->motor(1, 2).param(35), 1);
    EXPECT_EQ(bus_->motor(1, 2).param(36), 0);
    EXPECT_EQ(g_paramFileOffset, 0);
}

TEST_F(TqlModePage, FileChecksComeBeforeTheFileDialog) {
    chosenFile_ = WriteFile(std::string(kParamFileMaxBytes + 1, '\n'));
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    EXPECT_EQ(boxes_.texts(),
              std::vector<std::wstring>{L"MotorParameter File too Big !!! Errpr ..."});
    EXPECT_EQ(g_paramFileSending, 0);
    EXPECT_EQ(chooserCalls_, 1);

    boxes_.clear();
    motor()->setCurrentIndex(4);
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    board()->setCurrentIndex(1);
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    EXPECT_EQ(boxes_.texts(),
              (std::vector<std::wstring>{L"Motor Select Error(ID1,ID2,ID3,ID4)",
                                         L"Motor Parameter Send , Board Select Error"}));
    EXPECT_EQ(chooserCalls_, 1);

    // A file that can't be read is reported with its name.
    boxes_.clear();
    board()->setCurrentIndex(0);
    motor()->setCurrentIndex(0);
    chosenFile_ = dir_.filePath("missing.txt");
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    ASSERT_EQ(boxes_.texts().size(), 1u);
    EXPECT_NE(boxes_.texts()[0].find(L"missing.txt"), std::wstring::npos);
    EXPECT_EQ(g_paramFileSending, 0);

    // Choosing "MotorID1-ID4" during a send stops it without writing elsewhere.
    boxes_.clear();
    chosenFile_ = WriteFile("W.1=358\nK40.1=3\nK41.1=3\n");
    Child<QPushButton>(page_.get(), "sendFileButton")->click();
    motor()->setCurrentIndex(4);
    Tick(1);
    EXPECT_EQ(g_paramFileSending, 0);
    EXPECT_EQ(boxes_.texts(), std::vector<std::wstring>{L"Motor Select Error(ID1,ID2,ID3,ID4)"});
    for (int c = 1; c <= 4; ++c) EXPECT_EQ(bus_->motor(1, c).locked(), true);
}

}  // namespace
