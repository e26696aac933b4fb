// The adapter list: shows the Ethernet adapters the scan thread listed and stores
// the one chosen as the interface name.
#pragma once

#include <QDialog>
#include <QTimer>

class QComboBox;
class QPushButton;

class ScanLanAdapter : public QDialog {
    Q_OBJECT
  public:
    explicit ScanLanAdapter(QWidget* parent = nullptr);

    // Opens the dialog modally, as from the scan page, and returns how it ended.
    int DoModal();

    void OnInitDialog();
    void OnTimer();
    void FillAdapterCombo();
    void OnBnClickedExit();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void TakeFields();
    void ShowFields();

    QComboBox* adapterList_;
    QPushButton* exitButton_;
    QTimer timer_;
    int selectedIndex_ = 0;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern ScanLanAdapter* g_dlgScanLanAdapter;
