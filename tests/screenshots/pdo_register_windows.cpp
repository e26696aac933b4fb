#include "screenshots/pdo_register_windows.hpp"

#include <QLineEdit>
#include <QPushButton>

#include "support/qt_helpers.hpp"
#include "tools/gui/rx_pdo_and_tx_pdo.hpp"
#include "tools/gui/slave_memory.hpp"
#include "tools/pdo_views.hpp"

namespace {

void Fill(QWidget* dialog, const char* field, const char* text) {
    testsupport::Child<QLineEdit>(dialog, field)->setText(QString::fromLatin1(text));
}

void Press(QWidget* dialog, const char* button) {
    testsupport::Child<QPushButton>(dialog, button)->click();
}

}  // namespace

bool SavePdoAndRegisterWindows(const QDir& folder, SaveWindow save) {
    // The I/O terminal's outputs written by hand and echoed on its inputs, shown
    // between a marking and the next rebuild, so the changed bytes are yellow.
    g_dlgRxPdoAndTxPdo->show();
    Fill(g_dlgRxPdoAndTxPdo, "addressEdit", "24");
    Fill(g_dlgRxPdoAndTxPdo, "bytesEdit", "2");
    Fill(g_dlgRxPdoAndTxPdo, "txPdoDataEdit", "1234");
    Press(g_dlgRxPdoAndTxPdo, "writeTxPdoButton");
    testsupport::RunEventsFor(std::chrono::seconds(1));
    testsupport::WaitWithEvents([] { return g_pdoTick >= 6 && g_pdoTick < 10; }, 2);
    bool ok = save(g_dlgRxPdoAndTxPdo, folder, "rx_pdo_and_tx_pdo.png");
    Press(g_dlgRxPdoAndTxPdo, "quitButton");

    g_dlgSlaveMemory->show();
    Fill(g_dlgSlaveMemory, "addressEdit", "130");
    Fill(g_dlgSlaveMemory, "writeValueEdit", "0");
    Press(g_dlgSlaveMemory, "readButton");
    ok = save(g_dlgSlaveMemory, folder, "slave_memory.png") && ok;
    Press(g_dlgSlaveMemory, "quitButton");
    return ok;
}
