#include "screenshots/coe_windows.hpp"

#include <QComboBox>
#include <QPushButton>
#include <QTabBar>

#include "app/gui/main_window.hpp"
#include "gui/wait_for.hpp"
#include "tools/gui/cat_tools.hpp"
#include "tools/gui/mail_box_coe.hpp"

namespace {

using guitest::WaitFor;

void Settle() {
    WaitFor([] { return false; }, 1);
}

}  // namespace

bool SaveCoeWindows(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save) {
    window.tabBar()->setCurrentIndex(3);
    Settle();
    // The device name of the first slave, as READ with the page's defaults reads it,
    // and a switch homing type, which shows the homing input in place of the torque.
    g_dlgCatTools->findChild<QPushButton*>("readButton")->click();
    g_dlgCatTools->findChild<QComboBox*>("homingTypeCombo")->setCurrentIndex(2);
    Settle();
    bool ok = save(&window, folder, "cat_tools.png");

    g_dlgMailBoxCoe->show();
    Settle();
    ok = save(g_dlgMailBoxCoe, folder, "mail_box_coe.png") && ok;
    g_dlgMailBoxCoe->hide();
    return ok;
}
