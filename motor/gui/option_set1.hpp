// The serial speed switch dialog ("BaudrateSet"): requests 170 kbit/s or
// 38400 bit/s for the chosen bridge and drives the switch one phase per tick.
#pragma once

#include "bus/gui/tool_dialog.hpp"

class QComboBox;

class OptionSet1 : public ToolDialog {
    Q_OBJECT
  public:
    explicit OptionSet1(QWidget* parent = nullptr);

    void OnBnClickedBaud170k();
    void OnBnClickedBaud38400();
    void OnTimer() override;

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    int m_slaveIndex = 0;
    QComboBox* slaveCombo_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern OptionSet1* g_dlgOptionSet1;
