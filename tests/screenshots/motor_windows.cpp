#include "screenshots/motor_windows.hpp"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>

#include "app/gui/global_dialogs.hpp"
#include "app/gui/main_window.hpp"
#include "motor/gui/option_set1.hpp"
#include "motor/gui/para_set.hpp"
#include "motor/gui/voze_rudadozira_vur.hpp"
#include "motor/tq_init.hpp"
#include "support/qt_helpers.hpp"

namespace {

using namespace std::chrono_literals;
using testsupport::Child;
using testsupport::RunEventsFor;
using testsupport::WaitWithEvents;

// Types a command line into the page as the user would, and presses Enter.
void TypeCommand(QLineEdit* edit, const QString& line) {
    for (const QChar c : line) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &key);
    }
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
}

bool Shot(QDialog* dialog, const QDir& folder, const char* name, SaveWindow save) {
    dialog->show();
    RunEventsFor(1s);
    const bool saved = save(dialog, folder, name);
    dialog->hide();
    return saved;
}

}  // namespace

bool SaveMotorWindows(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save) {
    Child<QTabBar>(&window, "tabBar")->setCurrentIndex(1);
    auto* page = Child<QWidget>(&window, "tqlModePage");
    auto* command = Child<QLineEdit>(page, "commandEdit");
    auto* motor = Child<QComboBox>(page, "motorCombo");
    motor->setCurrentIndex(4);
    TypeCommand(command, "?99.1");
    motor->setCurrentIndex(1);
    TypeCommand(command, "K16.1,K20.1,K37.1");
    TypeCommand(command, "X.1");
    RunEventsFor(1s);
    bool ok = save(&window, folder, "tql_mode.png");

    ok = Shot(g_dlgOptionSet1, folder, "option_set1.png", save) && ok;
    ok = Shot(g_dlgParaSet, folder, "para_set.png", save) && ok;

    // The initialisation dialog at the end of a run on the first bridge.
    g_dlgVozeRudadoziraVur->show();
    Child<QPushButton>(g_dlgVozeRudadoziraVur, "initButton")->click();
    WaitWithEvents([] { return g_tqInitRunning == 0; }, 60);
    RunEventsFor(1s);
    ok = save(g_dlgVozeRudadoziraVur, folder, "voze_rudadozira_vur.png") && ok;
    g_dlgVozeRudadoziraVur->hide();
    return ok;
}
