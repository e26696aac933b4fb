// The CoE page: reads and writes any object of any slave by index, subindex and
// data type, and holds the homing group of one motor. Its 25 ms timer runs for
// the whole run, whatever tab is shown.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <string>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CatTools : public QWidget {
    Q_OBJECT
  public:
    explicit CatTools(QWidget* parent = nullptr);

    void OnTimer();
    void OnBnClickedWrite();
    void OnBnClickedRead();
    // A data-type radio was clicked.
    void OnBnClickedDataType(int dataType);
    // A new motor was chosen: lets all four of its digital outputs through.
    void OnCbnSelchangeMotor();
    // A new homing type: the stopper types show the torque field, the switch
    // types the homing input list in its place.
    void OnCbnSelchangeHomingMode();
    // "hm Start" and "Stop hm" of the homing group.
    void OnBnClickedHmStart();
    void OnBnClickedStopHm();
    // One supervision step of an active homing run, on every tick while
    // g_homingActive is set: the status text (the timer then colours it).
    void UpdateHomingProgress();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void OnInitDialog();
    void BuildCoeGroup();
    void BuildHomingGroup();
    void FillLists();
    void TakeFields();
    void ShowFields();
    // The status field's text colour follows the homing result.
    void ShowHomingColour();

    // CoE group.
    int m_slaveIndex = 0;
    int m_dataType = 0;
    std::wstring m_index = L"1008";
    std::wstring m_subindex = L"0";
    std::wstring m_data;
    // Homing group.
    std::wstring m_hmOffset = L"0";
    std::wstring m_hmSpeed1 = L"500";
    std::wstring m_hmSpeed2 = L"500";
    std::wstring m_hmAccel = L"500";
    int m_motorIndex = 0;
    int m_homingType = 0;
    int m_storeFlag = 0;  // the homing's "EEPROM" store flag; no control shows it
    std::wstring m_torque = L"20";
    int m_homingInput = 0;

    QComboBox* slaveCombo_;
    QButtonGroup* dataTypeGroup_;
    QLineEdit* indexEdit_;
    QLineEdit* subindexEdit_;
    QLineEdit* resultEdit_;
    QLineEdit* dataEdit_;
    QComboBox* motorCombo_;
    QComboBox* homingTypeCombo_;
    QLineEdit* hmOffsetEdit_;
    QLineEdit* hmSpeed1Edit_;
    QLineEdit* hmSpeed2Edit_;
    QLineEdit* hmAccelEdit_;
    QLabel* torqueLabel_;
    QLineEdit* torqueEdit_;
    QLabel* homingInputLabel_;
    QComboBox* homingInputCombo_;
    QLineEdit* homingStatusEdit_;
    QPushButton* hmStartButton_;
    QPushButton* stopHmButton_;
    QTimer timer_;
    int32_t shownHomingResult_ = -1;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern CatTools* g_dlgCatTools;
