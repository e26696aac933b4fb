// The process-data and register dialogs against a simulated ZR12, IO, ZR02
// segment scanned by the tool's bus threads: the views and their colours, a byte
// written by hand and echoed by the I/O terminal, the dialog's hold on the
// position ramp, register reads and writes with their refusals, and how the
// Tools menu opens both.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <chrono>

#include "app/gui/main_window.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "ethercat.h"
#include "gui_fixture.hpp"
#include "settings/settings_values.hpp"
#include "tools/gui/rx_pdo_and_tx_pdo.hpp"
#include "tools/gui/slave_memory.hpp"
#include "tools/pdo_views.hpp"
#include "tools/tools_state.hpp"

namespace {

using guitest::Click;
using guitest::RecordedBoxes;
using guitest::ScannedBus;
using guitest::Type;
using guitest::WorkFolder;
using testsupport::Child;
using testsupport::WaitUntil;
using testsupport::WaitWithEvents;
using namespace std::chrono_literals;

const QColor kInputColours[] = {QColor(200, 0, 0), QColor(200, 0, 200), QColor(0, 0, 200)};
const QColor kOutputColours[] = {QColor(200, 0, 200), QColor(0, 0, 200), QColor(0, 200, 200)};
const QColor kLineBackground(255, 245, 255);
const QColor kChangedBackground(255, 255, 0);
constexpr int kIoLine = 1;  // the I/O terminal is slave 2

QStringList Lines(QWidget* dialog, const char* view) {
    return Child<QTextEdit>(dialog, view)->toPlainText().split(QLatin1Char('\n'));
}

// The format of character `column` of line `line` of the view.
QTextCharFormat FormatAt(QWidget* dialog, const char* view, int line, int column) {
    QTextDocument* document = Child<QTextEdit>(dialog, view)->document();
    QTextCursor cursor(document);
    cursor.setPosition(document->findBlockByNumber(line).position() + column + 1);
    return cursor.charFormat();
}

// A fresh folder, a fresh segment scanned to OP by the bus threads.
class DialogsOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetToolsState();
        g_selectLan = 1;
        g_lanName.set(bus.name());
        g_slaveCount = 3;
        g_scanRequest = 1;
        ASSERT_TRUE(bus.waitOperational());
    }
    void TearDown() override { ResetToolsState(); }

    // Waits until the scan thread has packed `cycles` more exchanges.
    static void WaitPacked(int cycles) {
        const int32_t from = g_lastPackedCycle.load();
        ASSERT_TRUE(WaitWithEvents([&] { return g_lastPackedCycle.load() - from >= cycles; }, 20));
    }

    WorkFolder folder;
    ScannedBus bus{guitest::Pacing::Fast};
    RecordedBoxes boxes;
};

class PdoDialogOnBus : public DialogsOnBus {
  protected:
    void SetUp() override {
        DialogsOnBus::SetUp();
        dialog.show();
    }
    void TearDown() override {
        dialog.hide();
        DialogsOnBus::TearDown();
    }
    // Ticks the dialog as its timer would, without the event loop, until the
    // tick counter stands at `tick` (5: changes marked, 0: views rebuilt).
    void TickTo(int tick) {
        ASSERT_TRUE(WaitUntil(
            [&] {
                dialog.RefreshPdoViews();
                return g_pdoTick == tick;
            },
            20, {.pause = 1ms}));
    }
    bool Highlighted(const char* view, int line) {
        return FormatAt(&dialog, view, line, 0).background().color() == kChangedBackground;
    }

    RxPdoAndTxPdo dialog;
};

TEST_F(PdoDialogOnBus, ViewsShowEachSlaveInItsColourAndAWrittenByteEchoesHighlighted) {
    // An opening takes every non-zero byte as changed, however long ago it changed.
    dialog.hide();
    for (int marking = 0; marking <= kPdoHighlightMarkings; ++marking) {
        MarkChangedBytes(ReadPdoImage(g_slaveCount.load()));
    }
    dialog.show();
    TickTo(0);
    TickTo(5);
    const QStringList bridgeBytes =
        Lines(&dialog, "rxPdoView")[0].split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int nonZero = 0;
    for (int j = 0; j < bridgeBytes.size(); ++j) {
        if (bridgeBytes[j] == QStringLiteral("00")) continue;
        ++nonZero;
        EXPECT_EQ(FormatAt(&dialog, "rxPdoView", 0, 3 * j).background().color(), kChangedBackground)
            << "byte " << j;
    }
    EXPECT_GT(nonZero, 0);

    TickTo(0);
    for (const char* view : {"rxPdoView", "txPdoView"}) {
        const QStringList lines = Lines(&dialog, view);
        ASSERT_EQ(lines.size(), 4) << view;
        EXPECT_EQ(lines[0].size(), 72) << view;
        EXPECT_EQ(lines[1].size(), 6) << view;
        EXPECT_EQ(lines[2].size(), 72) << view;
        EXPECT_EQ(lines[3], QString()) << view;
        const QColor* colours = view[0] == 'r' ? kInputColours : kOutputColours;
        for (int line = 0; line < 3; ++line) {
            const QTextCharFormat format = FormatAt(&dialog, view, line, 4);
            EXPECT_EQ(format.foreground().color(), colours[line]) << view << " line " << line;
            EXPECT_EQ(format.background().color(), kLineBackground) << view << " line " << line;
        }
    }
    // Let the markings of the opening (every non-zero byte) run out.
    for (int period = 0; period < kPdoHighlightMarkings; ++period) {
        TickTo(5);
        TickTo(0);
    }
    ASSERT_FALSE(Highlighted("rxPdoView", kIoLine));

    Type(&dialog, "addressEdit", "24");
    Type(&dialog, "bytesEdit", "2");
    Type(&dialog, "txPdoDataEdit", "1234");
    Click(&dialog, "writeTxPdoButton");
    EXPECT_TRUE(boxes.texts().empty());

    // Marked at the marking that sees the echo and the five after it, then no more.
    std::vector<bool> marked;
    for (int period = 0; period < 40 && marked.size() < kPdoHighlightMarkings + 2; ++period) {
        TickTo(5);
        const bool now = Highlighted("rxPdoView", kIoLine);
        if (now || !marked.empty()) marked.push_back(now);
        TickTo(0);
    }
    EXPECT_EQ(marked, (std::vector<bool>{true, true, true, true, true, true, false, false}));
    EXPECT_EQ(Lines(&dialog, "txPdoView")[kIoLine], QStringLiteral("34 12 "));
    EXPECT_EQ(Lines(&dialog, "rxPdoView")[kIoLine], QStringLiteral("34 12 "));
}

TEST_F(PdoDialogOnBus, RefusedWritesLeaveTheTerminalsOutputsAlone) {
    // 50 output bytes are mapped (24 + 2 + 24); the terminal's are 24 and 25.
    const char* const refused[][3] = {{"24", "2", "xyz"}, {"24", "2", "123456789"},
                                      {"24", "27", "1"},  {"49", "2", "1"},
                                      {"", "1", "1"},     {"-1", "2", "FF"}};
    for (const auto& fields : refused) {
        Type(&dialog, "addressEdit", fields[0]);
        Type(&dialog, "bytesEdit", fields[1]);
        Type(&dialog, "txPdoDataEdit", fields[2]);
        Click(&dialog, "writeTxPdoButton");
    }
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>(std::size(refused), L"Data Error"));
    WaitPacked(2);
    auto lock = LockProcessImage();
    EXPECT_EQ(ec_slave[0].outputs[24], 0);
    EXPECT_EQ(ec_slave[0].outputs[25], 0);
}

TEST_F(PdoDialogOnBus, QuitKeepsAStopAndReleasesOnlyTheBoxsOwnHold) {
    g_moveSpeed[0] = 100;
    g_movePos[0] = 100000000;
    ASSERT_TRUE(WaitWithEvents([] { return g_targetPos[0].load() > 0; }, 20));  // the ramp runs

    // STOP on the CiA402 page holds the ramp; the dialog's Quit leaves it held,
    // also after its box was ticked and cleared meanwhile.
    g_moveStop = 1;
    WaitPacked(2);
    const int32_t stopped = g_targetPos[0];
    auto* box = Child<QCheckBox>(&dialog, "cia402DisableBox");
    box->click();
    EXPECT_EQ(g_moveStop.load(), 1);
    box->click();
    EXPECT_EQ(g_moveStop.load(), 1);
    Click(&dialog, "quitButton");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(g_moveStop.load(), 1);
    WaitPacked(5);
    EXPECT_EQ(g_targetPos[0].load(), stopped);

    // START; then the box holds the ramp, and Quit lets the move go on.
    g_moveStop = 0;
    dialog.show();
    box->click();
    EXPECT_EQ(g_moveStop.load(), 1);
    WaitPacked(2);
    const int32_t held = g_targetPos[0];
    WaitPacked(5);
    EXPECT_EQ(g_targetPos[0].load(), held);
    Click(&dialog, "quitButton");
    EXPECT_EQ(g_moveStop.load(), 0);
    EXPECT_TRUE(WaitWithEvents([&] { return g_targetPos[0].load() > held; }, 20));
    dialog.show();
    EXPECT_TRUE(box->isChecked());  // the box keeps its state for the next opening
}

class RegisterDialogOnBus : public DialogsOnBus {
  protected:
    QString ReadRegister(const QString& address) {
        Type(&dialog, "addressEdit", address);
        Click(&dialog, "readButton");
        return Child<QLineEdit>(&dialog, "readValueEdit")->text();
    }
    SlaveMemory dialog;
};

TEST_F(RegisterDialogOnBus, ReadsAndWritesWordsOfTheChosenSlave) {
    dialog.show();
    // A text put in by a program or a screen reader is taken as typing is.
    Child<QLineEdit>(&dialog, "addressEdit")->setText(QStringLiteral("130"));
    Click(&dialog, "readButton");
    EXPECT_EQ(Child<QLineEdit>(&dialog, "readValueEdit")->text(), QStringLiteral("0008"));
    EXPECT_EQ(ReadRegister("130"), QStringLiteral("0008"));    // AL status: OP
    EXPECT_EQ(ReadRegister("10120"), QStringLiteral("0008"));  // AL control, low 16 bits

    Type(&dialog, "addressEdit", "F80");
    Type(&dialog, "writeValueEdit", "12345");
    Click(&dialog, "writeButton");
    uint8 bytes[2] = {};
    EXPECT_EQ(ec_readreg(1, 0x0F80, bytes, sizeof bytes), 1);
    EXPECT_EQ(bytes[0], 0x45);
    EXPECT_EQ(bytes[1], 0x23);
    EXPECT_EQ(ReadRegister("10F80"), QStringLiteral("2345"));
    Type(&dialog, "writeValueEdit", "ABCD");
    Click(&dialog, "writeButton");
    EXPECT_EQ(ReadRegister("F80"), QStringLiteral("abcd")) << "the word in lower-case hex";

    Child<QComboBox>(&dialog, "slaveCombo")->setCurrentIndex(2);
    EXPECT_EQ(ReadRegister("F80"), QStringLiteral("0000"));  // the ZR02's, untouched
    EXPECT_TRUE(boxes.texts().empty());
}

TEST_F(RegisterDialogOnBus,
       RefusesEmptyOrNumberlessFieldsAndSlavesNotFoundAndShowsNoUnansweredWord) {
    g_slaveCount = 4;  // one more than the scan found
    dialog.show();
    ASSERT_EQ(Child<QComboBox>(&dialog, "slaveCombo")->count(), 4);
    Type(&dialog, "addressEdit", "");
    Type(&dialog, "writeValueEdit", "");
    Click(&dialog, "writeButton");
    Type(&dialog, "addressEdit", "F80");
    Click(&dialog, "writeButton");
    Type(&dialog, "writeValueEdit", "zz");
    Click(&dialog, "writeButton");
    EXPECT_EQ(ReadRegister("g"), QString());
    Child<QComboBox>(&dialog, "slaveCombo")->setCurrentIndex(3);
    EXPECT_EQ(ReadRegister("130"), QString());
    EXPECT_EQ(boxes.texts(),
              (std::vector<std::wstring>{L"Data Format Error 002!", L"Data Format Error 003!",
                                         L"Data Format Error 003!", L"Data Format Error 002!",
                                         L"Board Select Error!"}));

    // A slave that no longer answers: the word it did not send is not shown.
    Child<QComboBox>(&dialog, "slaveCombo")->setCurrentIndex(2);
    ASSERT_EQ(ReadRegister("130"), QStringLiteral("0008"));
    bus.segment().powerOff(3);
    EXPECT_EQ(ReadRegister("130"), QString());
    uint8 kept[2] = {0x12, 0x34};
    EXPECT_EQ(ec_readreg(1, 0x0F80, kept, sizeof kept), 1);  // the others still answer
}

TEST(PdoAndRegisterMenus, ToolsOpenBothModalOrThePdoDialogBesideTheWindow) {
    WorkFolder folder;
    RecordedBoxes boxes;
    folder.writeSettings({"eth9", "9751", "3", "2500", "60", "1000", "1", "1", "0"});
    CDuZEraDezorav1Dlg window;
    window.OnInitDialog();
    window.show();
    g_slavesFound = 3;

    // Modeless: the window stays usable; a second choice brings the open dialog
    // forward without opening it afresh.
    window.OnRxPdoTxPdo();
    ASSERT_TRUE(g_dlgRxPdoAndTxPdo->isVisible());
    EXPECT_FALSE(g_dlgRxPdoAndTxPdo->isModal());
    g_pdoChangeTables.lastInputs[1][0] = 0x5A;
    window.OnRxPdoTxPdo();
    EXPECT_EQ(g_pdoChangeTables.lastInputs[1][0], 0x5A);
    Click(g_dlgRxPdoAndTxPdo, "quitButton");
    EXPECT_FALSE(g_dlgRxPdoAndTxPdo->isVisible());

    g_rxTxPdoModeless = 0;
    EXPECT_EQ(guitest::RunModal([&] { window.OnRxPdoTxPdo(); }), g_dlgRxPdoAndTxPdo);
    EXPECT_EQ(guitest::RunModal([&] { window.OnSlaveMemory(); }), g_dlgSlaveMemory);
    EXPECT_TRUE(boxes.texts().empty());
    ResetToolsState();
}

}  // namespace
