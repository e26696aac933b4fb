// The mailbox dialog ("MailBox" in the Tools menu): the CoE page's object read
// and write in a modal dialog of its own, which starts empty at each opening.
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;

class MailBoxCoe : public ToolDialog {
    Q_OBJECT
  public:
    explicit MailBoxCoe(QWidget* parent = nullptr);

    void OnBnClickedCoeRead();
    void OnBnClickedCoeWrite();
    // A data-type radio was clicked.
    void OnBnClickedDataType(int dataType);

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    void ShowFields();

    std::wstring m_labelText;
    int m_dataType = 0;
    std::wstring m_index;
    std::wstring m_subindex;
    std::wstring m_data;
    int m_slaveIndex = 0;

    QLabel* label_;
    QComboBox* slaveCombo_;
    QButtonGroup* dataTypeGroup_;
    QLineEdit* indexEdit_;
    QLineEdit* subindexEdit_;
    QLineEdit* resultEdit_;
    QLineEdit* dataEdit_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern MailBoxCoe* g_dlgMailBoxCoe;
