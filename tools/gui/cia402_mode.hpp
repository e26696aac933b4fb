// The CiA402 page: moves the four motors of one bridge to a position at a speed,
// stops them, sets their digital outputs, watches the first motor's inputs and
// the four positions, switches CPIO mode and runs the output test. Its 25 ms
// timer runs from the page's initialisation to the end of the run, whatever tab
// is shown.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "bus/globals.hpp"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class Cia402Mode : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kOutputs = 4;
    static constexpr int kLamps = 6;

    explicit Cia402Mode(QWidget* parent = nullptr);

    // Runs when the main window makes the page, after the settings file is read:
    // fonts, the motor list, the captions, P, S and A from the settings, and the
    // timer. Starts the page's run afresh.
    void OnInitDialog();

    // Handlers, public so that the tests can drive them.
    void OnTimer();
    void OnCbnSelchangeMotor();
    void OnBnClickedOutputBit();
    void OnBnClickedInputLamp(int bit);
    void OnBnClickedStart();
    void OnBnClickedStop();
    void OnBnClickedCpioMode();
    void OnBnClickedOutTest();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // The constructor's parts, by what they make.
    void BuildLists();
    void BuildMoveControls();
    void BuildPositionLabels();
    void BuildOutputs();
    void BuildInputLamps();
    void BuildModeBoxes();
    void ConnectControls();

    void TakeFields();
    void ShowFields();
    void ShowMotorOutputs();
    void WriteOutputs();
    void RefreshInputsAndPositions();
    void ShowOutputValue(int value);
    int SelectedSlave() const { return m_slaveIndex + 1; }

    // What the controls show, taken and shown as a whole. Output and lamp
    // entries are by bit: outputs 1..4 are bits 0..3, inputs 1..6 bits 0..5.
    int m_slaveIndex = 0;
    int m_motorIndex = 0;
    std::array<int, kOutputs> m_outputs{};
    QString m_position;
    QString m_speed;
    QString m_accel;
    std::array<int, kLamps> m_lamps{};  // 0 lit, -1 dark
    int m_cpio = 0;
    int m_outTest = 0;

    // The timer's state for the run.
    bool slaveListFilled_ = false;
    bool outputsEnabled_ = false;
    int refreshTicks_ = 0;
    int outTestTicks_ = 0;
    int32_t lastInputShown_ = 0;

    QComboBox* slaveCombo_;
    QComboBox* motorCombo_;
    QGroupBox* setGroup_;
    QGroupBox* replyGroup_;
    QLineEdit* positionEdit_;
    QLineEdit* speedEdit_;
    QLineEdit* accelEdit_;
    QPushButton* startButton_;
    QPushButton* stopButton_;
    std::array<QCheckBox*, kOutputs> outputBoxes_{};
    QLabel* outputHex_;
    std::array<QRadioButton*, kLamps> lamps_{};
    QLabel* inputHex_;
    std::array<QLabel*, kMotorsPerBridge> positions_{};
    QCheckBox* cpioBox_;
    QCheckBox* outTestBox_;
    QLineEdit* targetEdit_;
    QTimer timer_;
};

// The one instance, made by CreateGlobalDialogs at start and kept for the run.
extern Cia402Mode* g_dlgCia402Mode;
