#include "screenshots/coe_windows.hpp"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include "app/gui/main_window.hpp"
#include "support/qt_helpers.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/gui/mail_box_coe.hpp"
#include "tools/homing.hpp"

namespace {

using testsupport::Child;

void Settle() {
    testsupport::RunEventsFor(std::chrono::seconds(1));
}

QLineEdit* Field(const char* name) {
    return Child<QLineEdit>(g_dlgCatTools, name);
}

// Fills a field; the page takes every change of its text.
void Enter(const char* name, const QString& text) {
    Field(name)->setText(text);
}

// A stopper homing of the first motor, slow enough to be seen running, then
// halted.
bool SaveHomingRun(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save) {
    Child<QComboBox>(g_dlgCatTools, "homingTypeCombo")->setCurrentIndex(0);
    Enter("hmOffsetEdit", QStringLiteral("8000"));
    Enter("hmSpeed1Edit", QStringLiteral("5"));
    Enter("hmSpeed2Edit", QStringLiteral("200"));
    Child<QPushButton>(g_dlgCatTools, "hmStartButton")->click();
    const bool running = testsupport::WaitWithEvents(
        [] {
            return Field("homingStatusEdit")->text() ==
                   QStringLiteral("Homing Run ( Elapsed time: 1 ) ");
        },
        10);
    const bool ok = running && save(&window, folder, "cat_tools_homing.png");
    Child<QPushButton>(g_dlgCatTools, "stopHmButton")->click();
    testsupport::WaitWithEvents([] { return g_homingActive.load() == 0; }, 10);
    return ok;
}

}  // namespace

bool SaveCoeWindows(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save) {
    Child<QTabBar>(&window, "tabBar")->setCurrentIndex(3);
    Settle();
    // The device name of the first slave, as READ with the page's defaults reads it,
    // and a switch homing type, which shows the homing input in place of the torque.
    Child<QPushButton>(g_dlgCatTools, "readButton")->click();
    Child<QComboBox>(g_dlgCatTools, "homingTypeCombo")->setCurrentIndex(2);
    Settle();
    bool ok = save(&window, folder, "cat_tools.png");
    ok = SaveHomingRun(window, folder, save) && ok;

    g_dlgMailBoxCoe->show();
    Settle();
    ok = save(g_dlgMailBoxCoe, folder, "mail_box_coe.png") && ok;
    g_dlgMailBoxCoe->hide();
    return ok;
}
