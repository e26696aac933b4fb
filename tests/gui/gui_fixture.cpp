#include "gui_fixture.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <fstream>

#include "app/gui/application.hpp"
#include "app/gui/global_dialogs.hpp"
#include "bus/bus_threads.hpp"
#include "bus/globals.hpp"
#include "bus/gui/tool_dialog.hpp"
#include "ethercat.h"
#include "platform/message_box.hpp"
#include "settings/settings_file.hpp"
#include "support/all_layers.hpp"
#include "tools/cia402_page_logic.hpp"

namespace guitest {

namespace {

// The application object and the program's global windows, made once for the
// whole test program as the program itself makes them.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "gui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<CDuZEraDezorav1App>(argc, argv);
        CreateGlobalDialogs();
    }
    void TearDown() override {
        StopBusThreads();
        DestroyGlobalDialogs();
        app_.reset();
    }

  private:
    std::unique_ptr<CDuZEraDezorav1App> app_;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void ResetSharedState() {
    testsupport::ResetAllLayers();
}

}  // namespace

WorkFolder::WorkFolder() {
    ResetSharedState();
}

WorkFolder::~WorkFolder() {
    ResetSharedState();
}

void WorkFolder::writeSettings(const std::vector<std::string>& lines) const {
    std::ofstream file(folder_.path() / kSettingsFileName);
    for (const std::string& line : lines) file << line << '\n';
}

std::vector<std::string> WorkFolder::readSettings() const {
    std::ifstream file(folder_.path() / kSettingsFileName);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
}

ScannedBus::ScannedBus(Pacing pacing) : bus_("ZR12,IO,ZR02") {
    if (pacing == Pacing::Fast) busClock_.emplace();
    StartBusThreads();
}

ScannedBus::~ScannedBus() {
    StopBusThreads();
}

std::vector<std::string> ScannedBus::settingsLines() const {
    return {bus_.name(), "9751", "3", "2500", "60", "1000", "0", "1", "1"};
}

bool ScannedBus::waitOperational(int seconds) const {
    return testsupport::WaitWithEvents([] { return g_inOp.load() == 1 && g_busReady.load() == 1; },
                                       seconds);
}

int ScannedBus::axisMode(int slave, int axis) const {
    uint8_t data[4] = {};
    int size = sizeof data;
    const auto index = static_cast<uint16>(0x6060 + axis * 0x800);
    const int wkc = ec_SDOread(static_cast<uint16>(slave), index, 0, 0, &size, data, 700000);
    return wkc > 0 && size >= 1 ? static_cast<int8_t>(data[0]) : -1;
}

QWidget* RunModal(const std::function<void()>& open, const std::function<void(QWidget*)>& use) {
    QWidget* shown = nullptr;
    QTimer::singleShot(0, [&] {
        shown = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<ToolDialog*>(shown)) {
            if (use) use(dialog);
            dialog->OnBnClickedQuit();
        }
    });
    open();
    return shown;
}

void ScanFromPage(const ScannedBus& bus, CDuZEraDezorav1Dlg& window) {
    window.OnInitDialog();
    window.show();
    Click(Page(&window, 0), "scanButton");
    ASSERT_TRUE(bus.waitOperational());
    ASSERT_EQ(g_bridgeCount.load(), 2);
}

}  // namespace guitest
