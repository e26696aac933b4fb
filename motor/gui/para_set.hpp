// The bridge parameter dialog ("ParaSet"): reads the chosen bridge's parameters
// into the fields and writes them back with "Set(Write)".
#pragma once

#include "bus/gui/tool_dialog.hpp"
#include "motor/bridge_params.hpp"

class QComboBox;
class QLabel;
class QLineEdit;

class ParaSet : public ToolDialog {
    Q_OBJECT
  public:
    explicit ParaSet(QWidget* parent = nullptr);

    void OnCbnSelchangeSlave();
    void OnBnClickedSetWrite();
    void ReadBridgeParameters();

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    void ShowFields();

    int m_slaveIndex = 0;
    BridgeParamTexts m_texts;
    QComboBox* slaveCombo_;
    QLineEdit* edits_[kParamCount];
    QLabel* debugLabel_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern ParaSet* g_dlgParaSet;
