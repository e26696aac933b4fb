// The register dialog ("SlaveMemory" in the Tools menu): reads and writes one
// 16-bit register of the chosen slave's controller, in hexadecimal.
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"

class QComboBox;
class QLineEdit;

class SlaveMemory : public ToolDialog {
    Q_OBJECT
  public:
    explicit SlaveMemory(QWidget* parent = nullptr);

    void OnBnClickedRead();
    void OnBnClickedWrite();

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    int m_slaveIndex = 0;
    std::wstring m_address;
    std::wstring m_write;

    QComboBox* slaveCombo_;
    QLineEdit* addressEdit_;
    QLineEdit* readValueEdit_;
    QLineEdit* writeValueEdit_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern SlaveMemory* g_dlgSlaveMemory;
