#include "screenshots/cia402_window.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>

#include "app/gui/main_window.hpp"
#include "support/qt_helpers.hpp"
#include "tools/gui/cia402_mode.hpp"

using testsupport::Child;

bool SaveCia402Window(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save) {
    Child<QTabBar>(&window, "tabBar")->setCurrentIndex(2);
    Child<QPushButton>(g_dlgCia402Mode, "startButton")->click();
    Child<QCheckBox>(g_dlgCia402Mode, "outputBox1")->click();
    Child<QCheckBox>(g_dlgCia402Mode, "outputBox3")->click();
    const auto* position = Child<QLabel>(g_dlgCia402Mode, "positionId4");
    const auto* inputs = Child<QLabel>(g_dlgCia402Mode, "inputHex");
    testsupport::WaitWithEvents(
        [&] { return position->text() == "Pos.ID4=2500" && inputs->text() == "Hex[05]"; }, 20);
    return save(&window, folder, "cia402_mode.png");
}
