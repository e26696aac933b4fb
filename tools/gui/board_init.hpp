// The board initialisation dialog ("InitBoard"): gives the chosen bridge its
// serial number, board type and the motor kinds that follow from the type. No
// timer; the set button does all its work at once.
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"
#include "tools/board_identity.hpp"

class QComboBox;
class QLineEdit;
class QRadioButton;

class BoardInit : public ToolDialog {
    Q_OBJECT
  public:
    explicit BoardInit(QWidget* parent = nullptr);

    void OnBnClickedBoardInitSet();

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    // Kept from one opening to the next, as the fields show them.
    std::wstring m_serialText;
    int m_boardType = 0;
    int m_slaveIndex = 0;
    QComboBox* slaveCombo_;
    QLineEdit* serial_;
    QRadioButton* types_[kBoardTypeCount];
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern BoardInit* g_dlgBoardInit;
