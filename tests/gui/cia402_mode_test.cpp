// The CiA402 page in the main window against a scanned ZR12, IO, ZR02 segment:
// moves, refused starts, the outputs and their loop-back to the inputs, the
// output test and CPIO mode. The procedures' pauses are on a recording clock:
// one waits only until the exchange has carried a controlword it set, and the
// bridges' axes show a written mode at once, as the real pauses let them.
#include "tools/gui/cia402_mode.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

#include "app/gui/main_window.hpp"
#include "bus/globals.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave.hpp"
#include "gui_fixture.hpp"
#include "settings/settings_values.hpp"
#include "support/axis_display.hpp"
#include "support/exchange_wait.hpp"
#include "support/recording_clock.hpp"
#include "tools/cia402_page_logic.hpp"

namespace {

using guitest::Page;
using guitest::RecordedBoxes;
using guitest::ScannedBus;
using guitest::WorkFolder;
using testsupport::Child;
using testsupport::WaitWithEvents;

void Spin(int ms) {
    testsupport::RunEventsFor(std::chrono::milliseconds(ms));
}

constexpr int kIoSlave = 2;
constexpr int kSecondBridgeSlave = 3;

// Counts the SDO downloads to, and uploads of, one entry of the bridge at `slave`
// (the entry still does what it did).
struct EntryTraffic {
    std::shared_ptr<std::atomic<int>> downloads = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> uploads = std::make_shared<std::atomic<int>>(0);
};

EntryTraffic WatchEntry(ecsim::Segment& segment, int slave, uint16_t index, uint8_t subindex) {
    EntryTraffic traffic;
    auto guard = segment.lock();
    auto& bridge =
        dynamic_cast<ecsim::BridgeDevice&>(segment.slave(static_cast<size_t>(slave)).device());
    ecsim::Entry* entry = bridge.dictionary().find(index, subindex);
    EXPECT_NE(entry, nullptr);
    if (entry == nullptr) return traffic;
    auto download = entry->onDownload;
    entry->onDownload = [download, entry,
                         count = traffic.downloads](std::span<const uint8_t> data) {
        count->fetch_add(1);
        if (download) return download(data);
        entry->value.assign(data.begin(), data.end());
        return ecsim::abort_code::None;
    };
    auto upload = entry->onUpload;
    entry->onUpload = [upload, entry, count = traffic.uploads](std::vector<uint8_t>& data) {
        count->fetch_add(1);
        if (upload) return upload(data);
        data = entry->value;
        return ecsim::abort_code::None;
    };
    return traffic;
}

// A main window on the simulated bus, scanned, with the CiA402 tab chosen.
class Cia402PageOnBus : public ::testing::Test {
  protected:
    void SetUp() override {
        // P and S from the settings file, which is read after the page was made.
        std::vector<std::string> lines = bus.settingsLines();
        lines[3] = "30000";
        lines[4] = "2000";
        folder.writeSettings(lines);
        ASSERT_NO_FATAL_FAILURE(guitest::ScanFromPage(bus, window));
        clock.onPause = testsupport::CarryNewControlWords();
        testsupport::ShowWrittenModesAtOnce(bus.segment(), 1);
        testsupport::ShowWrittenModesAtOnce(bus.segment(), kSecondBridgeSlave);
        Child<QTabBar>(&window, "tabBar")->setCurrentIndex(kCia402Page);
        ASSERT_TRUE(page()->isVisible());
        // The page has taken the bus and served the tab change.
        ASSERT_TRUE(WaitWithEvents(
            [this] { return slaveList()->count() == 3 && g_cpioReapply.load() == 0; }, 10));
        ASSERT_TRUE(boxes.texts().empty());
    }

    QWidget* page() { return Page(&window, kCia402Page); }
    QComboBox* slaveList() { return Child<QComboBox>(page(), "slaveCombo"); }
    QLineEdit* field(const char* name) { return Child<QLineEdit>(page(), name); }
    QCheckBox* outputBox(int n) {
        return Child<QCheckBox>(page(), ("outputBox" + std::to_string(n)).c_str());
    }
    QRadioButton* lamp(int n) {
        return Child<QRadioButton>(page(), ("inputLamp" + std::to_string(n)).c_str());
    }
    std::string text(const char* label) {
        return Child<QLabel>(page(), label)->text().toStdString();
    }
    void Type(const char* name, const QString& text) { guitest::Type(page(), name, text); }
    void Press(const char* name) {
        QTest::mouseClick(Child<QPushButton>(page(), name), Qt::LeftButton);
    }
    // The lamps 1..6 that are lit.
    std::vector<int> LitLamps() {
        std::vector<int> lit;
        for (int n = 1; n <= 6; ++n) {
            if (lamp(n)->isChecked()) lit.push_back(n);
        }
        return lit;
    }
    bool PositionsShow(int32_t position) {
        for (int id = 1; id <= 4; ++id) {
            const std::string name = "positionId" + std::to_string(id);
            if (text(name.c_str()) !=
                "Pos.ID" + std::to_string(id) + "=" + std::to_string(position))
                return false;
        }
        return true;
    }
    bool InputShows(const char* hex) {
        return WaitWithEvents([&] { return text("inputHex") == hex; }, 10);
    }

    WorkFolder folder;
    ScannedBus bus{guitest::Pacing::Fast};
    RecordedBoxes boxes;
    testsupport::RecordingClock clock;
    CDuZEraDezorav1Dlg window;
};

TEST_F(Cia402PageOnBus, StartMovesTheFourMotorsOfTheChosenBridgeToP) {
    EXPECT_EQ(field("positionEdit")->text(), "30000");
    EXPECT_EQ(field("speedEdit")->text(), "2000");
    EXPECT_EQ(Child<QLineEdit>(page(), "accelEdit")->text(), "1000");
    Press("startButton");
    EXPECT_EQ(g_moveStop.load(), 0);
    ASSERT_TRUE(WaitWithEvents([this] { return PositionsShow(30000); }, 20)) << text("positionId1");
    EXPECT_EQ(Child<QLineEdit>(page(), "targetPositionEdit")->text(), "ID1 TargetPosition = 30000");
    // The other bridge stays where it was.
    EXPECT_EQ(g_actualPos[MotorSlot(1, 1)].load(), 0);

    // The values START took are the settings the file keeps at Quit. A text put
    // in by a program or a screen reader counts as typing does.
    Type("speedEdit", "1500");
    field("positionEdit")->setText(QStringLiteral("12000"));
    Press("startButton");
    EXPECT_TRUE(WaitWithEvents([this] { return PositionsShow(12000); }, 20));
    EXPECT_EQ(g_cia402Pos.load(), 12000);
    EXPECT_EQ(g_cia402Speed.load(), 1500);
    EXPECT_TRUE(boxes.texts().empty());

    // Each motor's position on its own label.
    for (int m = 1; m <= 4; ++m) g_movePos[MotorSlot(0, m)] = 12000 + 1000 * m;
    EXPECT_TRUE(WaitWithEvents(
        [this] {
            for (int m = 1; m <= 4; ++m) {
                const std::string name = "positionId" + std::to_string(m);
                if (text(name.c_str()) !=
                    "Pos.ID" + std::to_string(m) + "=" + std::to_string(12000 + 1000 * m)) {
                    return false;
                }
            }
            return true;
        },
        20))
        << text("positionId1") << " " << text("positionId4");
}

TEST_F(Cia402PageOnBus, RefusedStartsLeaveTheMotorsStillAndNameTheirField) {
    Type("positionEdit", "1000000");
    Type("speedEdit", "10");
    Press("startButton");
    ASSERT_TRUE(WaitWithEvents([] { return g_actualPos[0].load() > 300; }, 20));
    // STOP freezes the ramp before its pause: the cycles of the pause move no
    // target (the ramp goes 30 a cycle; a cycle may be on its way when STOP comes,
    // and a busy machine may let one more in before it, yet run few in the pause).
    const int32_t cycleBefore = g_lastPackedCycle.load();
    const int32_t targetBefore = g_targetPos[0].load();
    Press("stopButton");
    const int32_t moved = g_targetPos[0].load() - targetBefore;
    const int32_t cycles = g_lastPackedCycle.load() - cycleBefore;
    EXPECT_LE(moved, 30 * std::max(cycles - 3, 2)) << cycles << " cycles";
    EXPECT_EQ(g_moveStop.load(), 1);
    Spin(200);
    int32_t stoppedAt[4];
    for (int m = 0; m < 4; ++m) stoppedAt[m] = g_actualPos[m].load();

    const struct {
        const char* speed;
        const char* position;
        const wchar_t* message;
    } refused[] = {
        {"10", "100000001", L"Pos Set Data Error !!!, Pos = 0 --- 100000000."},
        {"10", "-1", L"Pos Set Data Error !!!, Pos = 0 --- 100000000."},
        {"10", "", L"Position Set Data Error !!!"},
        {"10", "123456789012", L"Position Set Data Error !!!"},
        {"2001", "5000", L"Set Data Error , Speed = 1 ---- 2000"},
        {"0", "5000", L"Set Data Error , Speed = 1 ---- 2000"},
        {"1234567", "5000", L"Speed Set Data Error !!!"},
    };
    for (const auto& start : refused) {
        boxes.clear();
        Type("speedEdit", start.speed);
        Type("positionEdit", start.position);
        Press("startButton");
        EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{start.message})
            << start.speed << " " << start.position;
        EXPECT_EQ(g_moveStop.load(), 1) << start.speed << " " << start.position;
    }
    Spin(500);  // 25 cycles: a running ramp would have moved 750 units
    for (int m = 0; m < 4; ++m) EXPECT_EQ(g_actualPos[m].load(), stoppedAt[m]) << m;

    // The ends of both ranges pass.
    boxes.clear();
    Type("speedEdit", "2000");
    Type("positionEdit", "100000000");
    Press("startButton");
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(g_moveStop.load(), 0);
    EXPECT_EQ(g_cia402Pos.load(), 100000000);
    EXPECT_EQ(g_cia402Speed.load(), 2000);
    Press("stopButton");
}

TEST_F(Cia402PageOnBus, OutputsComeBackOnTheInputsOfEveryBridge) {
    // All four outputs are enabled: bit 3 comes back on lamp 4.
    outputBox(4)->click();
    EXPECT_EQ(text("outputHex"), "Hex[08]");
    ASSERT_TRUE(InputShows("Hex[08]"));
    EXPECT_EQ(LitLamps(), std::vector<int>{4});
    outputBox(4)->click();
    ASSERT_TRUE(InputShows("Hex[00]"));

    outputBox(1)->click();
    outputBox(3)->click();
    EXPECT_EQ(text("outputHex"), "Hex[05]");
    ASSERT_TRUE(InputShows("Hex[05]"));
    EXPECT_EQ(LitLamps(), (std::vector<int>{1, 3}));
    // A click darkens a lamp at once; the unchanged input leaves it dark.
    lamp(3)->click();
    EXPECT_EQ(LitLamps(), std::vector<int>{1});
    Spin(300);
    EXPECT_EQ(LitLamps(), std::vector<int>{1});

    // The I/O terminal has no motors and no mailbox: START refuses it, the boxes
    // touch no motor's outputs, and the read that gives nothing changes no lamp.
    slaveList()->setCurrentIndex(kIoSlave - 1);
    boxes.clear();
    Press("startButton");
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"SlaveNo Selection Error"});
    EXPECT_EQ(g_moveStop.load(), 1);
    outputBox(2)->click();
    EXPECT_EQ(text("outputHex"), "Hex[07]");
    Spin(400);
    EXPECT_EQ(text("inputHex"), "Hex[05]");
    EXPECT_EQ(LitLamps(), std::vector<int>{1});
    for (int slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(g_digOut[slot].load(), slot < 4 ? 5u : 0u) << slot;
    }

    // The second bridge's outputs were enabled too.
    outputBox(1)->click();
    outputBox(2)->click();
    outputBox(3)->click();
    slaveList()->setCurrentIndex(kSecondBridgeSlave - 1);
    ASSERT_TRUE(InputShows("Hex[00]"));
    outputBox(1)->click();
    outputBox(3)->click();
    EXPECT_EQ(text("outputHex"), "Hex[05]");
    ASSERT_TRUE(InputShows("Hex[05]"));
    EXPECT_EQ(LitLamps(), (std::vector<int>{1, 3}));
    EXPECT_EQ(g_digOut[MotorSlot(1, 4)].load(), 5u);
}

TEST_F(Cia402PageOnBus, OutputTestStepsEveryFifthTickThroughThePatterns) {
    Child<QCheckBox>(page(), "outTestBox")->click();
    EXPECT_EQ(g_outTestOn.load(), 1);
    // The page's ticks given by hand, with no events run meanwhile.
    std::vector<std::string> ticked;
    for (int tick = 1; tick <= 10; ++tick) {
        g_dlgCia402Mode->OnTimer();
        ticked.push_back(text("outputHex"));
    }
    std::vector<std::string> expected(4, "Hex[00]");
    expected.insert(expected.end(), 5, "Hex[01]");
    expected.push_back("Hex[02]");
    EXPECT_EQ(ticked, expected);
    // Then on the page's own timer through 0F, and 00 last.
    std::vector<std::string> shown{"Hex[02]"};
    WaitWithEvents(
        [&] {
            const std::string now = text("outputHex");
            if (now != shown.back()) shown.push_back(now);
            return shown.size() == 15;
        },
        20);
    expected.clear();
    for (int value = 2; value <= 15; ++value) {
        expected.push_back(QString::asprintf("Hex[%02X]", value).toStdString());
    }
    expected.push_back("Hex[00]");
    EXPECT_EQ(shown, expected);
    Child<QCheckBox>(page(), "outTestBox")->click();
    EXPECT_EQ(g_outTestOn.load(), 0);
}

TEST_F(Cia402PageOnBus, CpioModeDrivesTheOutputsByProcessDataOnly) {
    Child<QCheckBox>(page(), "cpioModeBox")->click();
    EXPECT_EQ(g_cpioMode.load(), 1);
    EXPECT_EQ(bus.axisMode(1, 0), 121);
    const EntryTraffic outputs = WatchEntry(bus.segment(), 1, 0x60FE, 1);
    const EntryTraffic inputs = WatchEntry(bus.segment(), 1, 0x60FD, 0);

    outputBox(1)->click();
    outputBox(3)->click();
    EXPECT_EQ(text("outputHex"), "Hex[05]");
    ASSERT_TRUE(InputShows("Hex[05]"));
    EXPECT_EQ(LitLamps(), (std::vector<int>{1, 3}));
    Spin(300);
    EXPECT_EQ(outputs.downloads->load(), 0);
    EXPECT_EQ(inputs.uploads->load(), 0);

    // Out of CPIO mode the same boxes are written and the inputs read by SDO.
    Child<QCheckBox>(page(), "cpioModeBox")->click();
    EXPECT_EQ(g_cpioMode.load(), 0);
    outputBox(2)->click();
    ASSERT_TRUE(InputShows("Hex[07]"));
    EXPECT_GT(outputs.downloads->load(), 0);
    EXPECT_GT(inputs.uploads->load(), 0);
}

}  // namespace
