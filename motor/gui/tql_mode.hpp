// The TQL page: sends command lines and motor parameter files to the motors of a
// bridge and shows what was sent and what the motors answered. Its 25 ms timer
// runs for the whole run, whatever tab is shown.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

class TqlMode : public QWidget {
    Q_OBJECT
  public:
    explicit TqlMode(QWidget* parent = nullptr);

    void OnTimer();
    void OnBnClickedSendCmd();
    void OnBnClickedSendFile();
    void OnBnClickedClearMess();
    void OnBnClickedSendAfterClear();

    // Where "SendFile" gets its file from; the platform's file-open dialog unless
    // replaced (tests). An empty path means the user cancelled.
    using FileChooser = std::function<QString(QWidget* parent)>;
    void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void SetupFonts();
    void TakeFields();
    void ShowFields();
    void ShowSentLog();
    void ShowResponseLog();
    void PollMotorReplies();
    void SendParameterFileLine();
    void OnEnterInCommand();
    int SelectedBridgeSlave() const;  // 0 when the chosen slave is no bridge

    int m_boardIndex = 0;
    int m_motorIndex = 0;
    std::wstring m_command;
    int m_sendAfterClear = 0;
    std::wstring m_responseLog;

    QComboBox* boardCombo_;
    QComboBox* motorCombo_;
    QCheckBox* sendAfterClearBox_;
    QLineEdit* commandEdit_;
    QPlainTextEdit* sentEdit_;
    QPlainTextEdit* responseEdit_;
    QTimer timer_;
    FileChooser chooseFile_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern TqlMode* g_dlgTqlMode;
