// The scan page on its own: the count field, the adapter controls, the logs.
#include "bus/gui/config_slave.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "bus/globals.hpp"
#include "bus/gui/slave_combo.hpp"
#include "gui_fixture.hpp"
#include "settings/settings_values.hpp"

namespace {

using guitest::RecordedBoxes;
using guitest::WorkFolder;
using testsupport::Child;

const std::wstring kRangeMessage = L"ScanSlaveCounter Input Error\r\n[Info : Value Range 1 --32]";

// Replaces the field's text as one edit of the user (a paste over a selection).
void Enter(QLineEdit* field, const QString& text) {
    field->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(field, Qt::Key_Backspace);
    } else {
        field->insert(text);
    }
}

QColor ColourAt(QTextEdit* view, int position) {
    QTextCursor cursor(view->document());
    cursor.setPosition(position + 1);  // the format of the character before
    return cursor.charFormat().foreground().color();
}

TEST(ConfigSlavePage, CountFieldTakesOneToThirtyTwo) {
    WorkFolder folder;
    RecordedBoxes boxes;
    g_slaveCount = 3;
    ConfigSlave page;
    page.OnInitDialog();
    auto* field = Child<QLineEdit>(&page, "countEdit");
    EXPECT_EQ(field->text(), QStringLiteral("3"));

    for (const char* bad : {"0", "33", "-1", "abc"}) {
        SCOPED_TRACE(bad);
        boxes.clear();
        Enter(field, QString::fromLatin1(bad));
        EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{kRangeMessage});
        EXPECT_EQ(field->text(), QStringLiteral("1"));
        EXPECT_EQ(g_slaveCount.load(), 3);
    }
    boxes.clear();
    // Both ends of the range are taken, and the pages offer that many slaves.
    Enter(field, QStringLiteral("32"));
    EXPECT_EQ(g_slaveCount.load(), 32);
    EXPECT_EQ(field->text(), QStringLiteral("32"));
    QComboBox combo;
    FillSlaveCombo(&combo);
    ASSERT_EQ(combo.count(), 32);
    EXPECT_EQ(combo.itemText(31), QStringLiteral("SlaveNo.32"));
    Enter(field, QStringLiteral("1"));
    EXPECT_EQ(g_slaveCount.load(), 1);
    Enter(field, QStringLiteral("12abc"));
    EXPECT_EQ(g_slaveCount.load(), 12);
    EXPECT_EQ(field->text(), QStringLiteral("12abc"));
    Enter(field, QString());
    EXPECT_EQ(g_slaveCount.load(), 12);
    EXPECT_TRUE(boxes.texts().empty());
}

TEST(ConfigSlavePage, LanControlsFollowTheCheckBox) {
    WorkFolder folder;
    g_lanName.set("eth1");
    ConfigSlave page;
    page.OnInitDialog();
    page.show();
    auto* selectLan = Child<QCheckBox>(&page, "selectLan");
    auto* portScan = Child<QPushButton>(&page, "lanPortScanButton");
    auto* lanName = Child<QLineEdit>(&page, "lanNameEdit");
    EXPECT_FALSE(selectLan->isChecked());
    EXPECT_FALSE(portScan->isVisible());
    EXPECT_FALSE(lanName->isEnabled());
    EXPECT_EQ(lanName->text(), QStringLiteral("eth1"));

    // Typing is taken only while manual choice is on.
    lanName->setEnabled(true);
    Enter(lanName, QStringLiteral("eth2"));
    EXPECT_EQ(g_lanName.get(), "eth1");

    QTest::mouseClick(selectLan, Qt::LeftButton);
    EXPECT_EQ(g_selectLan.load(), 1);
    EXPECT_TRUE(portScan->isVisible());
    EXPECT_TRUE(lanName->isEnabled());
    Enter(lanName, QStringLiteral("eth3"));
    EXPECT_EQ(g_lanName.get(), "eth3");

    QTest::mouseClick(selectLan, Qt::LeftButton);
    EXPECT_EQ(g_selectLan.load(), 0);
    EXPECT_FALSE(portScan->isVisible());
    EXPECT_FALSE(lanName->isEnabled());
    EXPECT_EQ(g_lanName.get(), "eth3");

    // A name picked in the adapter list shows within one tick.
    g_lanName.set("\\Device\\NPF_eth7");
    g_lanPicked = 1;
    page.OnTimer();
    EXPECT_EQ(g_lanPicked.load(), 0);
    EXPECT_EQ(lanName->text(), QStringLiteral("\\Device\\NPF_eth7"));
}

TEST(ConfigSlavePage, ManualChoiceAtStartShowsThePortScanButton) {
    WorkFolder folder;
    g_selectLan = 1;
    ConfigSlave page;
    page.OnInitDialog();
    page.show();
    EXPECT_TRUE(Child<QCheckBox>(&page, "selectLan")->isChecked());
    EXPECT_TRUE(Child<QPushButton>(&page, "lanPortScanButton")->isVisible());
    EXPECT_TRUE(Child<QLineEdit>(&page, "lanNameEdit")->isEnabled());
}

TEST(ConfigSlavePage, LogsAreShownInColourWhenTheyGrow) {
    WorkFolder folder;
    g_slaveCount = 1;
    ConfigSlave page;
    page.OnInitDialog();
    g_strScanLog.append(L"( 1 ) slaves Device found\r\nTQ[1.1]=ONline ; TQ[1.2]=OFFline; ");
    g_strSuperviseLog.append(L"ERROR[1] : slave 1 lost\r\n");
    page.OnTimer();
    auto* scanLog = Child<QTextEdit>(&page, "scanLog");
    auto* superviseLog = Child<QTextEdit>(&page, "superviseLog");

    const QString shown = scanLog->toPlainText();
    EXPECT_EQ(shown,
              QStringLiteral("( 1 ) slaves Device found\nTQ[1.1]=ONline ; TQ[1.2]=OFFline; "));
    const int online = static_cast<int>(shown.indexOf(QStringLiteral("ONline")));
    const int offline = static_cast<int>(shown.indexOf(QStringLiteral("OFFline")));
    EXPECT_EQ(ColourAt(scanLog, online), QColor(0, 0, 255));
    EXPECT_EQ(ColourAt(scanLog, offline - 8), QColor(255, 0, 0));
    EXPECT_EQ(ColourAt(scanLog, 0), QColor(255, 0, 100));
    EXPECT_NE(ColourAt(scanLog, online - 2), QColor(0, 0, 255));
    EXPECT_EQ(superviseLog->toPlainText(), QStringLiteral("ERROR[1] : slave 1 lost\n"));
    EXPECT_EQ(ColourAt(superviseLog, 3), QColor(255, 128, 0));

    // Unchanged logs leave the views alone; a grown one is shown whole again.
    scanLog->setPlainText(QStringLiteral("typed"));
    page.OnTimer();
    EXPECT_EQ(scanLog->toPlainText(), QStringLiteral("typed"));
    g_strScanLog.append(L"\r\nS[1]:");
    page.OnTimer();
    EXPECT_TRUE(scanLog->toPlainText().endsWith(QStringLiteral("\nS[1]:")));
}

// Three slaves' identities wrap in the view and fill more than it shows: the
// first lines must stay within reach.
TEST(ConfigSlavePage, ALogLongerThanItsViewCanBeScrolled) {
    WorkFolder folder;
    g_slaveCount = 3;
    ConfigSlave page;
    page.OnInitDialog();
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    g_strScanLog.append(L"( 3 ) slaves Device found\r\n");
    for (const wchar_t* slave : {L"1]:Torvanelix ZR12", L"2]:IO 8DI8DO", L"3]:Torvanelix ZR02"}) {
        g_strScanLog.append(L"S[" + std::wstring(slave) +
                            L"; vID:0x00000b95 ; Soft:V2.07 2021/11/04; sNo:20210000417\r\n");
    }
    g_strScanLog.append(L"TQ[1.1]=ONline ; TQ[1.2]=ONline ; TQ[1.3]=OFFline; TQ[1.4]=OFFline\r\n");
    page.OnTimer();
    QCoreApplication::processEvents();

    const QScrollBar* bar = Child<QTextEdit>(&page, "scanLog")->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->value(), bar->maximum());  // the newest lines in view
}

// Characters the page's timer tick puts into or takes out of the supervision
// view: the work of showing the log, whatever it costs in time.
class ViewWork {
  public:
    explicit ViewWork(QTextEdit* view) {
        QObject::connect(view->document(), &QTextDocument::contentsChange,
                         [this](int, int removed, int added) { chars_ += removed + added; });
    }
    int of(ConfigSlave& page) {
        chars_ = 0;
        page.OnTimer();
        return chars_;
    }

  private:
    int chars_ = 0;
};

const std::wstring kOldLine = L"ERROR[1] : Slave(2) is in SAFE_OP & ERROR, Attempting Ack\r\n";
const std::wstring kNewLine = L"WARNING[1] : Slave(2) is in SAFE_OP, change to OPERATIONAL\r\n";

// How much one tick does for one new line, after the log has taken `lines`.
int TickWorkForOneLineAfter(int lines) {
    g_strSuperviseLog.clear();
    ConfigSlave page;
    page.OnInitDialog();
    ViewWork work(Child<QTextEdit>(&page, "superviseLog"));
    // A tick after every hundred lines; the log takes them a hundred at a time.
    std::wstring hundred;
    for (int i = 0; i < 100; ++i) hundred += kOldLine;
    for (int done = 0; done < lines; done += 100) {
        if (lines - done < 100) {
            for (int i = done; i < lines; ++i) g_strSuperviseLog.append(kOldLine);
            break;
        }
        g_strSuperviseLog.append(hundred);
        page.OnTimer();
    }
    page.OnTimer();
    g_strSuperviseLog.append(kNewLine);
    return work.of(page);
}

TEST(ConfigSlavePage, ATickCostsTheSameAfter100000LinesAsAfter1000) {
    WorkFolder folder;
    // A line in the view has one line end.
    const int newLine = static_cast<int>(kNewLine.size()) - 1;
    const int oldLine = static_cast<int>(kOldLine.size()) - 1;
    EXPECT_EQ(TickWorkForOneLineAfter(10), newLine) << "the new line, nothing else";
    EXPECT_EQ(TickWorkForOneLineAfter(1000), newLine + oldLine) << "and the oldest line out";
    EXPECT_EQ(TickWorkForOneLineAfter(100000), newLine + oldLine);

    // What the view shows: the newest lines the log keeps, in the log's colour.
    ConfigSlave page;
    page.OnInitDialog();
    page.OnTimer();
    auto* view = Child<QTextEdit>(&page, "superviseLog");
    const QString shown = view->toPlainText();
    EXPECT_EQ(shown.count(QLatin1Char('\n')), static_cast<qsizetype>(kSuperviseLogLines));
    EXPECT_TRUE(shown.endsWith(QStringLiteral("change to OPERATIONAL\n")));
    EXPECT_EQ(ColourAt(view, 0), QColor(255, 128, 0));
    EXPECT_EQ(ColourAt(view, static_cast<int>(shown.size()) - 3), QColor(255, 128, 0));
    g_strSuperviseLog.clear();
}

TEST(SlaveCombo, OffersTheExpectedSlaves) {
    WorkFolder folder;
    QComboBox combo;
    combo.addItem(QStringLiteral("old"));
    g_slaveCount = 12;
    FillSlaveCombo(&combo);
    ASSERT_EQ(combo.count(), 12);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("SlaveNo.01"));
    EXPECT_EQ(combo.itemText(11), QStringLiteral("SlaveNo.12"));
    EXPECT_EQ(combo.currentIndex(), 0);
    g_slaveCount = 0;
    FillSlaveCombo(&combo);
    EXPECT_EQ(combo.count(), 0);
    EXPECT_EQ(combo.currentIndex(), -1);
}

}  // namespace
