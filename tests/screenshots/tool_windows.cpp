#include "screenshots/tool_windows.hpp"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>

#include "ecsim/firmware_loader.hpp"
#include "gui/wait_for.hpp"
#include "tools/gui/board_init.hpp"
#include "tools/gui/self_up_date_program.hpp"
#include "tools/self_prg.hpp"

namespace {

using guitest::WaitFor;

}  // namespace

bool SaveToolWindows(const QDir& folder, SaveWindow save) {
    // The update of the ZR02 half done; closed before its end, the run stands still.
    const QString image = folder.filePath("ZR_V1.08.srec");
    std::ofstream(image.toStdString(), std::ios::binary) << ecsim::sampleFirmwareImage();
    SelfUpDateProgram* update = g_dlgSelfUpDateProgram;
    update->SetFileChooser([image](QWidget*) { return image; });
    update->show();
    update->findChild<QPushButton*>("openFileButton")->click();
    update->findChild<QComboBox*>("slaveCombo")->setCurrentIndex(2);
    update->findChild<QPushButton*>("startButton")->click();
    WaitFor([] { return g_selfPrgLines >= 60; }, 60);
    bool ok = save(update, folder, "self_up_date_program.png");
    update->hide();

    BoardInit* board = g_dlgBoardInit;
    board->show();
    board->findChild<QLineEdit*>("serialEdit")->setText("123");
    board->findChild<QRadioButton*>("radioZR02")->click();
    board->findChild<QComboBox*>("slaveCombo")->setCurrentIndex(2);
    WaitFor([] { return false; }, 1);
    ok = save(board, folder, "board_init.png") && ok;
    board->hide();
    return ok;
}
