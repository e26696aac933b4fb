// The scan page: the Scan button, the expected slave count, the adapter choice
// and the scan and supervision logs in colour.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstddef>

#include "bus/text_log.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

class ConfigSlave : public QWidget {
    Q_OBJECT
  public:
    explicit ConfigSlave(QWidget* parent = nullptr);

    // Runs when the main window makes the page: the count and the adapter
    // controls from the settings, fonts, and the page's 25 ms timer.
    void OnInitDialog();

    // Handlers, public so that the main window's tests can drive them.
    void OnBnClickedScan();
    void OnEnChangeScanSlaveCounter();
    void OnBnClickedSelectLan();
    void OnEnChangeLanName();
    void OnBnClickedLanPortScan();
    void OnTimer();

  private:
    void TakeFields();
    void ShowFields();
    void InitFonts();
    void ColourScanLog();
    void ShowNewSuperviseLines();
    void ApplyLanControls();

    QPushButton* scanButton_;
    QLineEdit* countEdit_;
    QTextEdit* scanView_;
    QTextEdit* superviseView_;
    QCheckBox* selectLan_;
    QLineEdit* lanNameEdit_;
    QPushButton* lanPortScan_;
    QTimer timer_;

    // What the controls show, taken and shown as a whole.
    QString countText_;
    bool selectLanChecked_ = false;
    QString lanNameText_;

    // The scan log's length at its last refresh, and how far the supervision
    // log has been taken into its view.
    size_t scanLogLength_ = 0;
    TextLog::Mark superviseMark_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern ConfigSlave* g_dlgConfigSlave;
