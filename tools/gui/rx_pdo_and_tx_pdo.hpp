// The process-data dialog ("RxPDO/TxPDO" in the Tools menu): the whole process
// image in hexadecimal, one coloured line per slave, with the bytes that just
// changed blinking yellow; output bytes written by hand; a box that holds the
// CiA402 position ramp. Opened modal or modeless (settings line 7).
#pragma once

#include <string>

#include "bus/gui/tool_dialog.hpp"

class QCheckBox;
class QLineEdit;
class QTextEdit;

class RxPdoAndTxPdo : public ToolDialog {
    Q_OBJECT
  public:
    explicit RxPdoAndTxPdo(QWidget* parent = nullptr);

    void OnBnClickedWriteTxPdo();
    void OnBnClickedCia402Disable();
    // Releases the box's ramp hold, then closes.
    void OnBnClickedQuit() override;
    // One 25 ms tick: marks the changed bytes at tick 5, rebuilds the views at 10.
    void RefreshPdoViews();

  protected:
    void OnInitDialog() override;
    void OnTimer() override { RefreshPdoViews(); }
    void TakeFields() override;

  private:
    void RebuildViews();
    void MarkChangedBytesInViews();

    std::wstring m_address;
    std::wstring m_bytes;
    std::wstring m_txPdoData;
    int m_cia402Disable = 0;

    QTextEdit* rxPdoView_;
    QTextEdit* txPdoView_;
    QLineEdit* addressEdit_;
    QLineEdit* bytesEdit_;
    QLineEdit* txPdoDataEdit_;
    QCheckBox* cia402DisableBox_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern RxPdoAndTxPdo* g_dlgRxPdoAndTxPdo;
