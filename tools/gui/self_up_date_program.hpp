// The firmware update dialog ("SoftUpDate"): loads an S-record file, starts a run
// on the chosen bridge and drives it one step per tick while it is open. The run
// is global: closed with Quit it stands still, and goes on when the dialog opens
// again.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "bus/gui/tool_dialog.hpp"
#include "tools/self_prg.hpp"

class QComboBox;
class QLineEdit;
class QProgressBar;

class SelfUpDateProgram : public ToolDialog, private SelfPrgView {
    Q_OBJECT
  public:
    explicit SelfUpDateProgram(QWidget* parent = nullptr);

    // The file dialog of OpenFile; tests put their own in its place.
    using FileChooser = std::function<QString(QWidget* parent)>;
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    void OnBnClickedOpenFile();
    void OnBnClickedStart();
    void OnTimer() override;

  protected:
    void OnInitDialog() override;
    void TakeFields() override;

  private:
    void showStatus(const std::string& text) override;
    void showProgress(int position) override;

    int m_slaveIndex = 0;
    FileChooser chooseFile_;
    BusSelfPrgLink link_;
    QComboBox* slaveCombo_;
    QLineEdit* file_;
    QLineEdit* status_;
    QProgressBar* progress_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern SelfUpDateProgram* g_dlgSelfUpDateProgram;
