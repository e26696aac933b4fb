// Renders the main window after a scan of a simulated ZR12, IO, ZR02 segment,
// and the adapter list with made-up adapters, to PNG files for a look by eye.
// Usage: screenshot_maker OUTPUT_FOLDER   (offscreen platform)
#include <QDir>
#include <QPushButton>
#include <QTabBar>
#include <QTextEdit>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/gui/application.hpp"
#include "app/gui/global_dialogs.hpp"
#include "app/gui/main_window.hpp"
#include "bus/adapter_choice.hpp"
#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/gui/scan_lan_adapter.hpp"
#include "screenshots/cia402_window.hpp"
#include "screenshots/coe_windows.hpp"
#include "screenshots/motor_windows.hpp"
#include "screenshots/pdo_register_windows.hpp"
#include "screenshots/tool_windows.hpp"
#include "settings/settings_file.hpp"
#include "support/qt_helpers.hpp"
#include "support/virtual_bus.hpp"

namespace {

using namespace std::chrono_literals;
using testsupport::Child;
using testsupport::RunEventsFor;
using testsupport::WaitWithEvents;

bool Save(QWidget* widget, const QDir& folder, const char* name) {
    const QString path = folder.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("screenshots: %s\n", qPrintable(path));
    return true;
}

void PublishFakeAdapters() {
    const char* const names[] = {"enp3s0", "enp4s0f1", "eth-usb0"};
    for (int i = 0; i < 3; ++i) {
        std::strncpy(g_adapterNames[i], names[i], kAdapterEntryBytes - 1);
        std::strncpy(g_adapterGuids[i], names[i], kAdapterEntryBytes - 1);
    }
    g_adapterCount = 3;
    g_lanScanState = 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    CDuZEraDezorav1App app(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")) || !QDir::setCurrent(folder.path())) {
        std::fprintf(stderr, "screenshots: cannot use %s\n", argv[1]);
        return 1;
    }

    int status = 0;
    {
        testsupport::VirtualBus bus("ZR12,IO,ZR02");
        std::ofstream(kSettingsFileName) << bus.name() << "\n9751\n3\n2500\n60\n1000\n0\n1\n1\n";
        CreateGlobalDialogs();
        StartBusThreads();
        {
            CDuZEraDezorav1Dlg window;
            window.OnInitDialog();
            window.show();
            Child<QPushButton>(Child<QWidget>(&window, "configSlavePage"), "scanButton")->click();
            const bool up = WaitWithEvents([] { return g_inOp.load() == 1; }, 60) &&
                            WaitWithEvents([] { return g_strScanLog.length() > 0; }, 10);
            // Two page ticks after the last change show the log as it stands.
            RunEventsFor(1s);
            if (!up) {
                std::fprintf(stderr, "screenshots: the simulated bus did not come up\n");
                status = 1;
            }
            if (!Save(&window, folder, "main_window.png")) status = 1;
            Child<QTabBar>(&window, "tabBar")->setCurrentIndex(1);
            RunEventsFor(1s);
            if (!Save(&window, folder, "main_window_tql.png")) status = 1;

            PublishFakeAdapters();
            g_dlgScanLanAdapter->OnInitDialog();
            g_dlgScanLanAdapter->show();
            WaitWithEvents([] { return g_lanScanState.load() == 3; }, 10);
            if (!Save(g_dlgScanLanAdapter, folder, "scan_lan_adapter.png")) status = 1;
            g_dlgScanLanAdapter->hide();

            if (up && !SaveMotorWindows(window, folder, Save)) status = 1;
            if (up && !SaveCia402Window(window, folder, Save)) status = 1;
            if (up && !SaveCoeWindows(window, folder, Save)) status = 1;
            if (up && !SavePdoAndRegisterWindows(folder, Save)) status = 1;
            if (up && !SaveToolWindows(folder, Save)) status = 1;
        }
        StopBusThreads();
        DestroyGlobalDialogs();
    }
    return status;
}
