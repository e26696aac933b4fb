#include "screenshots/tool_windows.hpp"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>

#include "ecsim/firmware_loader.hpp"
#include "support/qt_helpers.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/self_up_date_program.hpp"
#include "tools/self_prg.hpp"

using namespace std::chrono_literals;
using testsupport::Child;
using testsupport::RunEventsFor;
using testsupport::WaitWithEvents;

bool SaveToolWindows(const QDir& folder, SaveWindow save) {
    // The update of the ZR02 half done; closed before its end, the run stands still.
    const QString image = folder.filePath("ZR_V1.08.srec");
    std::ofstream(image.toStdString(), std::ios::binary) << ecsim::sampleFirmwareImage();
    SelfUpDateProgram* update = g_dlgSelfUpDateProgram;
    update->SetFileChooser([image](QWidget*) { return image; });
    update->show();
    Child<QPushButton>(update, "openFileButton")->click();
    Child<QComboBox>(update, "slaveCombo")->setCurrentIndex(2);
    Child<QPushButton>(update, "startButton")->click();
    WaitWithEvents([] { return g_selfPrgLines >= 60; }, 60);
    bool ok = save(update, folder, "self_up_date_program.png");
    update->hide();

    BoardInit* board = g_dlgBoardInit;
    board->show();
    Child<QLineEdit>(board, "serialEdit")->setText("123");
    Child<QRadioButton>(board, "radioZR02")->click();
    Child<QComboBox>(board, "slaveCombo")->setCurrentIndex(2);
    RunEventsFor(1s);
    ok = save(board, folder, "board_init.png") && ok;
    board->hide();
    return ok;
}
