// How long the window stops answering when a bridge loses power (needs root: a
// private network namespace and raw sockets). The real tool, bus threads and
// pages, runs against zrsim over the veth pair (ZR12, I/O terminal, ZR02); the
// ZR02 is powered off through zrsim's control socket while the TQL page and then
// the CiA402 page poll it, and a 5 ms timer on the GUI thread measures the
// longest gap between its ticks over 15 s on each page (limit 300 ms). Then the
// Quit button is pressed with the bridge still off (limit 5 s). Last, the scan
// page's timer tick is timed with a supervision log that has taken 1,000 and
// 100,000 lines.
//
// Usage: window_stalls [seconds per page]   (default 15)

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/gui/application.hpp"
#include "app/gui/global_dialogs.hpp"
#include "app/gui/main_window.hpp"
#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/gui/config_slave.hpp"
#include "settings/settings_file.hpp"
#include "support/netns.hpp"
#include "wire_bench.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSlaves = "ZR12,IO,ZR02";
constexpr int kLostBridge = 3;  // the last slave: the others keep running
constexpr int kTqlTab = 1;
constexpr int kCia402Tab = 2;
constexpr double kStallLimitMs = 300;
constexpr double kQuitLimitMs = 5000;

// Runs the event loop until `done` or `seconds` have passed.
bool RunEventsUntil(const std::function<bool()>& done, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The longest time the GUI thread did not get to a 5 ms timer of its own while
// the event loop ran for `seconds`.
double LongestStallMs(double seconds, const std::function<void()>& eachTick = {}) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (eachTick) eachTick();
    });
    ticker.start();
    RunEventsUntil([] { return false; }, seconds);
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return static_cast<double>(longest) / 1e6;
}

// Chooses the tab (its fixed pauses run here, outside the measurement) and the
// lost bridge in the page's slave list.
void ShowPageOfBridge(CDuZEraDezorav1Dlg& window, int tab, const char* comboName) {
    window.findChild<QTabBar*>("tabBar")->setCurrentIndex(tab);
    for (QComboBox* combo : window.findChildren<QComboBox*>(comboName)) {
        if (combo->isVisible()) combo->setCurrentIndex(kLostBridge - 1);
    }
    RunEventsUntil([] { return false; }, 0.2);
}

int Report(const char* what, double ms, double limit) {
    std::printf("  %-44s %8.1f ms  (limit %.0f ms, %.2f of it)\n", what, ms, limit, ms / limit);
    return ms <= limit ? 0 : 1;
}

// Median time of one scan-page tick that shows one new supervision line, after
// the log has taken `lines` lines.
double TickMicrosAfter(int lines) {
    g_strSuperviseLog.clear();
    ConfigSlave page;
    page.OnInitDialog();
    const std::wstring line = L"ERROR[1] : Slave(2) is in SAFE_OP & ERROR, Attempting Ack\r\n";
    for (int i = 0; i < lines; ++i) {
        g_strSuperviseLog.append(line);
        if (i % 1000 == 999) page.OnTimer();
    }
    page.OnTimer();
    std::vector<double> ticks;
    for (int i = 0; i < 200; ++i) {
        g_strSuperviseLog.append(line);
        const auto start = Clock::now();
        page.OnTimer();
        ticks.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    g_strSuperviseLog.clear();
    return bench::median(ticks);
}

}  // namespace

int main(int argc, char* argv[]) {
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 15.0;
    if (!bench::EnterZrsimTier("window_stalls")) return 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    testsupport::Zrsim sim(kSlaves);
    std::string error;
    if (!sim.start(&error)) {
        std::printf("window_stalls: zrsim did not start: %s\n", error.c_str());
        return 1;
    }
    // The tool works in a folder of its own, with settings that scan the pair.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("window_stalls." + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    {
        std::ofstream settings(kSettingsFileName);
        for (const char* line : {testsupport::PrivateNetwork::kMasterIf, "9751", "3", "2500", "60",
                                 "1000", "0", "1", "1"}) {
            settings << line << '\n';
        }
    }

    CDuZEraDezorav1App app(argc, argv);
    CreateGlobalDialogs();
    StartBusThreads();
    int failed = 0;
    {
        CDuZEraDezorav1Dlg window;
        window.OnInitDialog();
        window.show();
        g_scanRequest = 1;
        if (!RunEventsUntil([] { return g_inOp.load() == 1 && g_busReady.load() == 1; }, 60)) {
            std::printf("window_stalls: the bus did not get operational\n");
            return 1;
        }
        RunEventsUntil([] { return false; }, 1);

        std::printf("window_stalls: longest GUI stall with slave %d powered off, over %.0f s\n",
                    kLostBridge, seconds);
        ShowPageOfBridge(window, kTqlTab, "boardCombo");
        const double tqlBefore = LongestStallMs(2);
        sim.control("power-off " + std::to_string(kLostBridge));
        const auto off = Clock::now();
        double lostAfterMs = -1;
        const double tql = LongestStallMs(seconds, [&] {
            if (lostAfterMs < 0 && SlaveIsLost(kLostBridge)) {
                lostAfterMs = std::chrono::duration<double, std::milli>(Clock::now() - off).count();
            }
        });
        ShowPageOfBridge(window, kCia402Tab, "slaveCombo");
        const double cia402 = LongestStallMs(seconds);
        std::printf("  (the supervision found it lost %.0f ms after the power-off)\n", lostAfterMs);
        Report("TQL page, bridge answering (2 s)", tqlBefore, kStallLimitMs);
        failed += Report("TQL page, bridge off", tql, kStallLimitMs);
        failed += Report("CiA402 page, bridge off", cia402, kStallLimitMs);

        const auto quitStart = Clock::now();
        window.findChild<QPushButton*>("quitButton")->click();
        const double quitMs =
            std::chrono::duration<double, std::milli>(Clock::now() - quitStart).count();
        failed += Report("Quit button, bridge off", quitMs, kQuitLimitMs);
    }
    StopBusThreads();

    const double tick1000 = TickMicrosAfter(1000);
    const double tick100000 = TickMicrosAfter(100000);
    std::printf("window_stalls: scan page tick with one new supervision line\n");
    std::printf("  after 1,000 lines     %8.1f us\n", tick1000);
    std::printf("  after 100,000 lines   %8.1f us  (%.2f times the first)\n", tick100000,
                tick100000 / tick1000);

    DestroyGlobalDialogs();
    std::filesystem::current_path("/");
    std::filesystem::remove_all(folder);
    return failed == 0 ? 0 : 1;
}
