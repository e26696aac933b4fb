// The motor parameter initialisation dialog ("InitTarnquisel"): starts a run on
// the chosen bridge and drives it one step per tick while it is open.
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"
#include "motor/tq_init.hpp"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;

class VozeRudadoziraVur : public ToolDialog, private TqInitView {
    Q_OBJECT
  public:
    explicit VozeRudadoziraVur(QWidget* parent = nullptr);

    void OnBnClickedInitTarnquisel();
    void OnTimer() override;

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    void ShowFields();
    void showStatus(const std::string& text) override;
    void showProgress(int position) override;
    void ColourStatus();

    int m_slaveIndex = 0;
    QComboBox* slaveCombo_;
    QLineEdit* status_;
    QCheckBox* online_[kMotorsPerBridge];
    QProgressBar* progress_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern VozeRudadoziraVur* g_dlgVozeRudadoziraVur;
