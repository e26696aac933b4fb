// The main window without a bus: access levels, guards, the ways of closing it.
#include "app/gui/main_window.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "gui_fixture.hpp"
#include "motor/gui/option_set1.hpp"
#include "settings/settings_values.hpp"
#include "support/recording_clock.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/self_up_date_program.hpp"

namespace {

using guitest::Page;
using guitest::RecordedBoxes;
using guitest::WorkFolder;
using testsupport::Child;

std::vector<std::string> SettingsWithLevel(const std::string& level) {
    return {"eth9", level, "2", "2500", "60", "1000", "0", "1", "0"};
}

// A main window opened in a fresh folder on settings of the given access level
// (no settings file when `level` is null), its boxes recorded.
struct OpenWindow {
    explicit OpenWindow(const char* level) {
        if (level != nullptr) folder.writeSettings(SettingsWithLevel(level));
        window.OnInitDialog();
        window.show();
    }
    WorkFolder folder;
    RecordedBoxes boxes;
    CDuZEraDezorav1Dlg window;
};

QStringList EnabledItems(const QMenu* menu) {
    QStringList enabled;
    for (const QAction* action : menu->actions()) {
        if (action->isEnabled()) enabled << action->text();
    }
    return enabled;
}

TEST(MainWindow, AccessLevelGreysToolsItemsAndShowsTheLanField) {
    struct Case {
        const char* level;
        QStringList tools;
        bool lanFieldShown;
    };
    const Case cases[] = {
        {"0", {}, false},
        {"9617", {"SoftwareUpDate"}, false},
        {"9751", {"SoftwareUpDate", "MailBox", "RxPDO/TxPDO", "SlaveMemory", "BoardInit"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        OpenWindow open(c.level);
        auto& [folder, boxes, window] = open;
        EXPECT_TRUE(boxes.texts().empty());
        EXPECT_EQ(EnabledItems(Child<QMenu>(&window, "toolsMenu")), c.tools);
        EXPECT_EQ(EnabledItems(Child<QMenu>(&window, "mainMenu")),
                  QStringList({"BaudrateSet", "ParameterSet", "InitTarnquisel", "Quit"}));
        EXPECT_EQ(!Child<QLineEdit>(Page(&window, 0), "lanNameEdit")->isHidden(), c.lanFieldShown);
    }
}

TEST(MainWindow, CaptionsShowTheToolsIcon) {
    OpenWindow open("0");
    const QIcon icon = open.window.windowIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 32, 48, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    }
    // Drawn: its middle is covered, its rounded corner is not.
    const QImage image = icon.pixmap(32).toImage();
    EXPECT_EQ(qAlpha(image.pixel(16, 16)), 255);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_FALSE(g_dlgOptionSet1->windowIcon().isNull());
}

TEST(MainWindow, WithoutSettingsFileEveryToolsItemIsGrey) {
    OpenWindow open(nullptr);
    auto& [folder, boxes, window] = open;
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"SetDataFile Read Error"});
    EXPECT_TRUE(EnabledItems(Child<QMenu>(&window, "toolsMenu")).isEmpty());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("QuendrelV1.20"));
    const QStringList tabs = {" ConfigSlave ", " TQLMode ", " CiA402Mode ", " MailBox"};
    auto* tabBar = Child<QTabBar>(&window, "tabBar");
    ASSERT_EQ(tabBar->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i) EXPECT_EQ(tabBar->tabText(i), tabs[i]);
}

TEST(MainWindow, ACountOutOfRangeInTheFileIsShownAsTheScanUsesIt) {
    WorkFolder folder;
    RecordedBoxes boxes;
    folder.writeSettings({"eth9", "0", "40", "2500", "60", "0", "0", "1", "0"});
    CDuZEraDezorav1Dlg window;
    window.OnInitDialog();
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(g_slaveCount.load(), 32);
    EXPECT_EQ(Child<QLineEdit>(Page(&window, 0), "countEdit")->text(), QStringLiteral("32"));
    EXPECT_EQ(g_cia402Accel.load(), 1);
}

TEST(MainWindow, TabsAndDeviceCommandsWaitForAScan) {
    OpenWindow open("9751");
    auto& [folder, boxes, window] = open;

    auto* tabBar = Child<QTabBar>(&window, "tabBar");
    for (int tab = 1; tab <= 3; ++tab) {
        boxes.clear();
        tabBar->setCurrentIndex(tab);
        EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"Scan Device Please..."});
        EXPECT_EQ(tabBar->currentIndex(), 0);
        EXPECT_EQ(g_bridgeMode.load(), kConfigSlavePage);
        EXPECT_TRUE(Page(&window, 0)->isVisible());
        EXPECT_FALSE(Page(&window, tab)->isVisible());
    }

    const std::wstring scanSlave = L"ERROR ; Scan Slave Please!.";
    const struct {
        void (CDuZEraDezorav1Dlg::*command)();
        std::wstring message;
    } commands[] = {
        {&CDuZEraDezorav1Dlg::OnBaudrateSet, L"Error!\r\nScanDevice Please."},
        {&CDuZEraDezorav1Dlg::OnParameterSet, scanSlave},
        {&CDuZEraDezorav1Dlg::OnInitTarnquisel, scanSlave},
        {&CDuZEraDezorav1Dlg::OnSoftwareUpDate, scanSlave},
        {&CDuZEraDezorav1Dlg::OnMailBox, scanSlave},
        {&CDuZEraDezorav1Dlg::OnRxPdoTxPdo, scanSlave},
        {&CDuZEraDezorav1Dlg::OnSlaveMemory, scanSlave},
        {&CDuZEraDezorav1Dlg::OnBoardInit, scanSlave},
    };
    // A guard that let its command through would open a modal dialog: close it
    // again, so that the missing message fails the test instead of holding it.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->hide();
    });
    closer.start(10);
    for (const auto& c : commands) {
        boxes.clear();
        (window.*c.command)();
        EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{c.message});
    }
}

TEST(MainWindow, LevelGuardsOfToolsCommandsAreSilent) {
    OpenWindow open("9617");
    auto& [folder, boxes, window] = open;
    window.OnBoardInit();
    EXPECT_TRUE(boxes.texts().empty());
    window.OnSoftwareUpDate();
    EXPECT_EQ(boxes.texts(), std::vector<std::wstring>{L"ERROR ; Scan Slave Please!."});
}

TEST(MainWindow, ToolsCommandsOpenTheirDialogsModally) {
    OpenWindow open("9751");
    auto& [folder, boxes, window] = open;
    g_slavesFound = 3;
    const struct {
        void (CDuZEraDezorav1Dlg::*command)();
        QWidget* dialog;
    } commands[] = {
        {&CDuZEraDezorav1Dlg::OnSoftwareUpDate, g_dlgSelfUpDateProgram},
        {&CDuZEraDezorav1Dlg::OnBoardInit, g_dlgBoardInit},
    };
    for (const auto& c : commands) {
        EXPECT_EQ(guitest::RunModal([&] { (window.*c.command)(); }), c.dialog);
        EXPECT_FALSE(c.dialog->isVisible());
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST(MainWindow, EnterInTheScanPageFieldsPressesNoButton) {
    OpenWindow open("9751");
    auto& [folder, boxes, window] = open;
    QTest::mouseClick(Child<QCheckBox>(Page(&window, 0), "selectLan"), Qt::LeftButton);
    for (const char* name : {"countEdit", "lanNameEdit"}) {
        auto* field = Child<QLineEdit>(Page(&window, 0), name);
        ASSERT_TRUE(field->isVisible() && field->isEnabled());
        QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(g_scanRequest.load(), 0);
        EXPECT_EQ(g_lanScanState.load(), 0);
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_TRUE(boxes.texts().empty());
}

TEST(MainWindow, EscapeAndCloseLeaveTheWindowOpen) {
    OpenWindow open("0");
    auto& [folder, boxes, window] = open;
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
}

TEST(MainWindow, QuitButtonWithoutBusSavesTheSettings) {
    testsupport::RecordingClock clock;
    OpenWindow open("0");
    auto& [folder, boxes, window] = open;
    g_slaveCount = 7;  // as the count field would set it
    QTest::mouseClick(Child<QPushButton>(&window, "quitButton"), Qt::LeftButton);
    EXPECT_EQ(clock.pauses, std::vector<int>{500});  // for the threads to see the pause
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(g_busPause.load(), 1);
    EXPECT_TRUE(boxes.texts().empty());
    EXPECT_EQ(folder.readSettings(),
              (std::vector<std::string>{"eth9", "0", "7", "2500", "60", "1000", "0", "1", "0"}));
}

}  // namespace
