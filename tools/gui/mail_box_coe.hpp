// The mailbox dialog ("MailBox" in the Tools menu): the CoE page's object read
// and write in a modal dialog of its own, which starts empty at each opening.
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"
#include "tools/gui/coe_controls.hpp"

class QLabel;

class MailBoxCoe : public ToolDialog {
    Q_OBJECT
  public:
    explicit MailBoxCoe(QWidget* parent = nullptr);

    void OnBnClickedCoeRead();
    void OnBnClickedCoeWrite();

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    void ShowFields();

    std::wstring m_labelText;
    QLabel* label_;
    CoeGroup coe_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern MailBoxCoe* g_dlgMailBoxCoe;
