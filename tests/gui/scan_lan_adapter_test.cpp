// The adapter list: from a published table, and from the scan thread's listing
// of a fake network class directory through the scan page's button.
#include "bus/gui/scan_lan_adapter.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <memory>

#include "app/gui/global_dialogs.hpp"
#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "bus/gui/config_slave.hpp"
#include "gui_fixture.hpp"
#include "platform/adapters.hpp"
#include "settings/settings_values.hpp"

namespace {

using guitest::ScannedBus;
using guitest::WorkFolder;
using testsupport::Child;
using testsupport::WaitWithEvents;

// Publishes a list as the scan thread does: entries first, the state last.
void PublishAdapters(const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        std::strncpy(g_adapterNames[i], names[i].c_str(), kAdapterEntryBytes - 1);
        std::strncpy(g_adapterGuids[i], names[i].c_str(), kAdapterEntryBytes - 1);
    }
    g_adapterCount = static_cast<int32_t>(names.size());
    g_lanScanState = 2;
}

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    return entries;
}

TEST(ScanLanAdapterDialog, ExitStoresTheChosenAdapter) {
    WorkFolder folder;
    g_lanName.set("eth-old");
    PublishAdapters({"enp1s0", "enp2s0"});
    ScanLanAdapter dialog;
    dialog.OnInitDialog();
    dialog.show();
    ASSERT_TRUE(WaitWithEvents([] { return g_lanScanState.load() == 3; }, 10));
    auto* list = Child<QComboBox>(&dialog, "adapterCombo");
    EXPECT_EQ(Entries(list), QStringList({"enp1s0", "enp2s0"}));
    EXPECT_EQ(list->currentIndex(), 0);
    list->setCurrentIndex(1);
    QTest::mouseClick(Child<QPushButton>(&dialog, "exitButton"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(g_lanName.get(), "\\Device\\NPF_enp2s0");
    EXPECT_EQ(g_lanPicked.load(), 1);
    EXPECT_EQ(g_lanScanState.load(), 4);
}

TEST(ScanLanAdapterDialog, EnterAndEscapeCloseWithoutStoring) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        WorkFolder folder;
        g_lanName.set("eth-old");
        PublishAdapters({"enp1s0"});
        ScanLanAdapter dialog;
        dialog.OnInitDialog();
        dialog.show();
        ASSERT_TRUE(WaitWithEvents([] { return g_lanScanState.load() == 3; }, 10));
        QTest::keyClick(&dialog, key);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(g_lanName.get(), "eth-old");
        EXPECT_EQ(g_lanPicked.load(), 0);
        EXPECT_EQ(g_lanScanState.load(), 3);
    }
}

TEST(ScanLanAdapterDialog, ExitWithAnEmptyListStoresThePrefixAlone) {
    WorkFolder folder;
    ScanLanAdapter dialog;
    dialog.OnInitDialog();
    dialog.show();
    QTest::mouseClick(Child<QPushButton>(&dialog, "exitButton"), Qt::LeftButton);
    EXPECT_EQ(g_lanName.get(), "\\Device\\NPF_");
}

// A directory laid out like /sys/class/net.
void AddInterface(const QDir& root, const QString& name, int index, int type, int megabits,
                  bool wireless = false) {
    ASSERT_TRUE(root.mkpath(name));
    const QDir dir(root.filePath(name));
    const auto write = [&](const char* file, int value) {
        QFile out(dir.filePath(QString::fromLatin1(file)));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray::number(value) + '\n');
    };
    write("ifindex", index);
    write("type", type);
    if (megabits > 0) write("speed", megabits);
    if (wireless) {
        ASSERT_TRUE(dir.mkpath(QStringLiteral("wireless")));
    }
}

TEST(ScanLanAdapterDialog, PortScanListsFastEthernetAdaptersOnce) {
    WorkFolder folder;
    QTemporaryDir sys;
    const QDir root(sys.path());
    AddInterface(root, QStringLiteral("lo"), 1, 772, 0);
    AddInterface(root, QStringLiteral("enp1"), 2, 1, 1000);
    AddInterface(root, QStringLiteral("wlan0"), 3, 1, 1000, true);
    AddInterface(root, QStringLiteral("slow0"), 4, 1, 10);
    AddInterface(root, QStringLiteral("fast1"), 5, 1, 100);
    SetNetworkClassRoot(sys.path().toStdString());
    struct RestoreRoot {
        ~RestoreRoot() { SetNetworkClassRoot(""); }
    } restore;

    g_selectLan = 1;
    ScannedBus bus;  // the bus threads answer the listing request
    // The program's own page: its timer is the one that takes a picked name.
    ConfigSlave& page = *g_dlgConfigSlave;
    page.OnInitDialog();
    page.show();
    struct HidePage {
        ~HidePage() { g_dlgConfigSlave->hide(); }
    } hide;
    auto* portScan = Child<QPushButton>(&page, "lanPortScanButton");
    auto* lanName = Child<QLineEdit>(&page, "lanNameEdit");

    QStringList listed;
    // Acts inside the dialog's modal loop once the list is there; a deadline
    // closes it should the list never come.
    QTimer pick;
    pick.setInterval(25);
    QObject::connect(&pick, &QTimer::timeout, [&] {
        ScanLanAdapter* dialog = g_dlgScanLanAdapter;
        if (!dialog->isVisible() || g_lanScanState.load() != 3) return;
        auto* list = Child<QComboBox>(dialog, "adapterCombo");
        listed = Entries(list);
        list->setCurrentIndex(1);
        QTest::mouseClick(Child<QPushButton>(dialog, "exitButton"), Qt::LeftButton);
    });
    pick.start();
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, g_dlgScanLanAdapter, &QDialog::reject);
    deadline.start(20000);
    QTest::mouseClick(portScan, Qt::LeftButton);
    pick.stop();
    deadline.stop();

    EXPECT_EQ(listed, QStringList({"enp1", "fast1"}));
    EXPECT_TRUE(WaitWithEvents(
        [&] { return lanName->text() == QStringLiteral("\\Device\\NPF_fast1"); }, 5));

    // The hand-shake runs once a run: the button does nothing from now on.
    // Had it opened the dialog, this would run inside the dialog's loop and close it.
    auto opened = std::make_shared<bool>(false);
    QTimer::singleShot(0, g_dlgScanLanAdapter, [opened] {
        *opened = g_dlgScanLanAdapter->isVisible();
        g_dlgScanLanAdapter->reject();
    });
    QTest::mouseClick(portScan, Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_FALSE(*opened);
    EXPECT_EQ(g_lanScanState.load(), 4);
}

}  // namespace
