// The CoE page: reads and writes any object of any slave by index, subindex and
// data type, and holds the homing group of one motor. Its 25 ms timer runs for
// the whole run, whatever tab is shown.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "tools/gui/coe_controls.hpp"
#include "tools/homing.hpp"

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

    CoeGroup coe_;
    // The homing group's fields; its slave is the CoE group's.
    HomingFields m_homing;

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
