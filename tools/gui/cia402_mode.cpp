#include "tools/gui/cia402_mode.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "bus/globals.hpp"
#include "bus/gui/slave_combo.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/gui/push_button.hpp"
#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"
#include "tools/cia402_page_logic.hpp"
#include "tools/gui/coe_controls.hpp"

Cia402Mode* g_dlgCia402Mode = nullptr;

namespace {

constexpr int kRefreshTicks = 4;  // 100 ms
constexpr int kOutTestTicks = 5;  // 125 ms
constexpr int kLit = 0;
constexpr int kDark = -1;

const QString kOutputDigits = QStringLiteral("4      3       2      1");
const QString kInputDigits = QStringLiteral("6      5      4      3      2     1");

QString HexText(int value) {
    return QString::asprintf("Hex[%02X]", static_cast<unsigned>(value));
}

QLabel* MakeLabel(const QString& caption, const char* name, const QRect& geometry,
                  QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

// Puts each control under its digit of `digits` (the controls given from the
// first digit of the text to the last), on row `top`.
template <typename Control, size_t N>
void PlaceUnderDigits(const QLabel* digits, const std::array<Control*, N>& controls, int top) {
    const QFontMetrics metrics = digits->fontMetrics();
    const QString text = digits->text();
    size_t k = 0;
    for (qsizetype i = 0; i < text.size() && k < N; ++i) {
        if (!text[i].isDigit()) continue;
        const int centre =
            metrics.horizontalAdvance(text.left(i)) + metrics.horizontalAdvance(text[i]) / 2;
        Control* control = controls[k++];
        const QSize size = control->sizeHint();
        control->setGeometry(digits->x() + centre - size.height() / 2 + 1, top, size.width(),
                             size.height());
    }
}

}  // namespace

// The controls are made in the order the keyboard's focus visits them.
Cia402Mode::Cia402Mode(QWidget* parent) : QWidget(parent) {
    resize(dlu::Size(457, 295));
    BuildLists();
    BuildMoveControls();
    BuildPositionLabels();
    BuildOutputs();
    BuildInputLamps();
    BuildModeBoxes();
    ConnectControls();
    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
}

void Cia402Mode::BuildLists() {
    slaveCombo_ = new QComboBox(this);
    slaveCombo_->setObjectName("slaveCombo");
    slaveCombo_->setGeometry(dlu::Rect(20, 10, 66, 14));
    motorCombo_ = new QComboBox(this);
    motorCombo_->setObjectName("motorCombo");
    motorCombo_->setGeometry(dlu::Rect(96, 10, 76, 14));
    motorCombo_->hide();  // not offered to the user
}

// The two frames, P, S and A, START and STOP.
void Cia402Mode::BuildMoveControls() {
    // The group boxes only frame the controls: their font is their captions' own.
    setGroup_ = new QGroupBox(QStringLiteral("Set"), this);
    setGroup_->setObjectName("setGroup");
    setGroup_->setGeometry(dlu::Rect(14, 32, 200, 86));
    replyGroup_ = new QGroupBox(QStringLiteral("Reply"), this);
    replyGroup_->setObjectName("replyGroup");
    replyGroup_->setGeometry(dlu::Rect(14, 126, 200, 86));

    MakeLabel(QStringLiteral("P="), "positionLabel", dlu::Rect(26, 52, 14, 10), this);
    positionEdit_ = AddField(this, "positionEdit", dlu::Rect(42, 50, 70, 14));
    MakeLabel(QStringLiteral("S="), "speedLabel", dlu::Rect(26, 72, 14, 10), this);
    speedEdit_ = AddField(this, "speedEdit", dlu::Rect(42, 70, 70, 14));
    MakeLabel(QStringLiteral("A="), "accelLabel", dlu::Rect(26, 92, 14, 10), this)->hide();
    accelEdit_ = AddField(this, "accelEdit", dlu::Rect(42, 90, 70, 14));
    accelEdit_->hide();
    startButton_ =
        MakeButton(QStringLiteral("START"), "startButton", dlu::Rect(128, 48, 72, 26), this);
    stopButton_ =
        MakeButton(QStringLiteral("STOP"), "stopButton", dlu::Rect(128, 82, 72, 26), this);
}

// One label per motor in the Reply frame.
void Cia402Mode::BuildPositionLabels() {
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        const std::string name = "positionId" + std::to_string(i + 1);
        positions_[static_cast<size_t>(i)] =
            MakeLabel(QStringLiteral("ID%1").arg(i + 1), name.c_str(),
                      dlu::Rect(28, 142 + 16 * i, 170, 12), this);
    }
}

// A box under each output's digit, output 4 leftmost, and the value in hex.
void Cia402Mode::BuildOutputs() {
    MakeLabel(QStringLiteral("OUTPUT"), "outputLabel", dlu::Rect(236, 36, 60, 10), this);
    const QLabel* outputDigits =
        MakeLabel(kOutputDigits, "outputDigits", dlu::Rect(236, 50, 100, 10), this);
    std::array<QCheckBox*, kOutputs> outputsLeftToRight{};
    for (int bit = 0; bit < kOutputs; ++bit) {
        const std::string name = "outputBox" + std::to_string(bit + 1);
        auto* box = new QCheckBox(this);
        box->setObjectName(name.c_str());
        outputBoxes_[static_cast<size_t>(bit)] = box;
        outputsLeftToRight[static_cast<size_t>(kOutputs - 1 - bit)] = box;
        connect(box, &QCheckBox::clicked, this, [this] { OnBnClickedOutputBit(); });
    }
    PlaceUnderDigits(outputDigits, outputsLeftToRight, dlu::Y(62));
    outputHex_ =
        MakeLabel(QStringLiteral("Hex[00]"), "outputHex", dlu::Rect(312, 62, 50, 10), this);
}

// A lamp under each input's digit, input 6 leftmost, and the value in hex.
void Cia402Mode::BuildInputLamps() {
    MakeLabel(QStringLiteral("INPUT(ID1)"), "inputLabel", dlu::Rect(236, 84, 60, 10), this);
    const QLabel* inputDigits =
        MakeLabel(kInputDigits, "inputDigits", dlu::Rect(236, 98, 140, 10), this);
    std::array<QRadioButton*, kLamps> lampsLeftToRight{};
    for (int bit = 0; bit < kLamps; ++bit) {
        const std::string name = "inputLamp" + std::to_string(bit + 1);
        auto* lamp = new QRadioButton(this);
        lamp->setObjectName(name.c_str());
        lamp->setAutoExclusive(false);  // each lamp is a group of its own
        lamps_[static_cast<size_t>(bit)] = lamp;
        lampsLeftToRight[static_cast<size_t>(kLamps - 1 - bit)] = lamp;
        connect(lamp, &QRadioButton::clicked, this, [this, bit] { OnBnClickedInputLamp(bit); });
    }
    PlaceUnderDigits(inputDigits, lampsLeftToRight, dlu::Y(110));
    inputHex_ = MakeLabel(QStringLiteral("Hex[00]"), "inputHex", dlu::Rect(342, 110, 50, 10), this);
}

// CPIO mode, the output test, and the hidden target field.
void Cia402Mode::BuildModeBoxes() {
    cpioBox_ = new QCheckBox(QStringLiteral("CPIO Mode"), this);
    cpioBox_->setObjectName("cpioModeBox");
    cpioBox_->setGeometry(dlu::Rect(236, 136, 70, 10));
    outTestBox_ = new QCheckBox(QStringLiteral("OUT-TEST"), this);
    outTestBox_->setObjectName("outTestBox");
    outTestBox_->setGeometry(dlu::Rect(236, 154, 70, 10));

    targetEdit_ = AddField(this, "targetPositionEdit", dlu::Rect(236, 180, 150, 14));
    targetEdit_->hide();
}

// The lists, fields, buttons and boxes to their handlers (the outputs and lamps
// are connected as they are made).
void Cia402Mode::ConnectControls() {
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });
    connect(motorCombo_, &QComboBox::currentIndexChanged, this, [this] { OnCbnSelchangeMotor(); });
    for (QLineEdit* edit : {positionEdit_, speedEdit_, accelEdit_}) {
        OnFieldChange(edit, this, [this] { TakeFields(); });
    }
    connect(startButton_, &QPushButton::clicked, this, [this] { OnBnClickedStart(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { OnBnClickedStop(); });
    connect(cpioBox_, &QCheckBox::clicked, this, [this] { OnBnClickedCpioMode(); });
    connect(outTestBox_, &QCheckBox::clicked, this, [this] { OnBnClickedOutTest(); });
}

void Cia402Mode::OnInitDialog() {
    const QFont font = FixedPageFont();
    setGroup_->setFont(font);
    replyGroup_->setFont(font);
    FillMotorCombo(motorCombo_);
    m_motorIndex = 0;
    setGroup_->setTitle(QStringLiteral("Set"));
    replyGroup_->setTitle(QStringLiteral("Reply(Motor Position)"));

    // The page's run starts here: nothing chosen, shown or counted yet.
    {
        QSignalBlocker block(slaveCombo_);
        slaveCombo_->clear();
    }
    m_slaveIndex = 0;
    m_outputs.fill(0);
    m_lamps.fill(kDark);
    m_cpio = 0;
    m_outTest = 0;
    slaveListFilled_ = false;
    outputsEnabled_ = false;
    refreshTicks_ = 0;
    outTestTicks_ = 0;
    lastInputShown_ = 0;
    outputHex_->setText(HexText(0));
    inputHex_->setText(HexText(0));
    for (int i = 0; i < kMotorsPerBridge; ++i) {
        positions_[static_cast<size_t>(i)]->setText(QStringLiteral("ID%1").arg(i + 1));
    }

    m_position = QString::number(g_cia402Pos.load());
    m_speed = QString::number(g_cia402Speed.load());
    m_accel = QString::number(g_cia402Accel.load());
    ShowFields();
    timer_.start();
}

void Cia402Mode::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
    m_motorIndex = motorCombo_->currentIndex();
    for (int bit = 0; bit < kOutputs; ++bit) {
        m_outputs[static_cast<size_t>(bit)] = outputBoxes_[static_cast<size_t>(bit)]->isChecked();
    }
    m_position = positionEdit_->text();
    m_speed = speedEdit_->text();
    m_accel = accelEdit_->text();
    for (int bit = 0; bit < kLamps; ++bit) {
        m_lamps[static_cast<size_t>(bit)] =
            lamps_[static_cast<size_t>(bit)]->isChecked() ? kLit : kDark;
    }
    m_cpio = cpioBox_->isChecked() ? 1 : 0;
    m_outTest = outTestBox_->isChecked() ? 1 : 0;
}

void Cia402Mode::ShowFields() {
    {
        QSignalBlocker blockSlave(slaveCombo_);
        QSignalBlocker blockMotor(motorCombo_);
        if (slaveCombo_->count() > 0) slaveCombo_->setCurrentIndex(m_slaveIndex);
        motorCombo_->setCurrentIndex(m_motorIndex);
    }
    for (int bit = 0; bit < kOutputs; ++bit) {
        outputBoxes_[static_cast<size_t>(bit)]->setChecked(m_outputs[static_cast<size_t>(bit)] !=
                                                           0);
    }
    ShowFieldText(positionEdit_, m_position);
    ShowFieldText(speedEdit_, m_speed);
    ShowFieldText(accelEdit_, m_accel);
    for (int bit = 0; bit < kLamps; ++bit) {
        lamps_[static_cast<size_t>(bit)]->setChecked(m_lamps[static_cast<size_t>(bit)] == kLit);
    }
    cpioBox_->setChecked(m_cpio != 0);
    outTestBox_->setChecked(m_outTest != 0);
}

void Cia402Mode::ShowOutputValue(int value) {
    outputHex_->setText(HexText(value));
}

void Cia402Mode::OnTimer() {
    const bool busReady = g_busReady.load() == 1;
    if (busReady && !slaveListFilled_) {
        {
            QSignalBlocker block(slaveCombo_);
            FillSlaveCombo(slaveCombo_);
        }
        m_slaveIndex = slaveCombo_->currentIndex();
        slaveListFilled_ = true;
    }
    targetEdit_->setText(QString::asprintf("ID1 TargetPosition = %d", g_targetPos[0].load()));
    if (busReady && !outputsEnabled_) {
        outputsEnabled_ = true;
        EnableBridgeOutputs();
    }
    if (busReady && ++refreshTicks_ >= kRefreshTicks) {
        refreshTicks_ = 0;
        RefreshInputsAndPositions();
    }
    if (g_cpioReapply.load() == 1) {
        g_cpioReapply = 0;
        TakeFields();
        ApplyCpioMode(m_cpio);
        TakeFields();
        WriteOutputs();
    }
    if (g_outTestOn.load() == 1 && ++outTestTicks_ >= kOutTestTicks) {
        outTestTicks_ = 0;
        const int pattern = TakeOutTestPattern();
        for (int bit = 0; bit < kOutputs; ++bit) {
            m_outputs[static_cast<size_t>(bit)] = (pattern >> bit) & 1;
        }
        ShowFields();
        WriteOutputs();
    }
}

void Cia402Mode::WriteOutputs() {
    int value = 0;
    for (int bit = 0; bit < kOutputs; ++bit) {
        if (m_outputs[static_cast<size_t>(bit)] != 0) value |= 1 << bit;
    }
    ShowOutputValue(value);
    ::WriteOutputs(SelectedSlave(), value, m_cpio == 1);
}

void Cia402Mode::ShowMotorOutputs() {
    int value = 0;
    if (!MotorOutputs(SelectedSlave(), m_motorIndex, &value)) return;
    for (int bit = 0; bit < kOutputs; ++bit)
        m_outputs[static_cast<size_t>(bit)] = (value >> bit) & 1;
    ShowFields();
    ShowOutputValue(value);
}

void Cia402Mode::RefreshInputsAndPositions() {
    const int slave = SelectedSlave();
    int32_t positions[kMotorsPerBridge] = {};
    if (ReadMotorPositions(slave, positions)) {
        for (int i = 0; i < kMotorsPerBridge; ++i) {
            positions_[static_cast<size_t>(i)]->setText(
                QString::asprintf("Pos.ID%d=%d", i + 1, positions[i]));
        }
    }
    // Without a value the lamps and the value keep what they show.
    int32_t value = 0;
    if (!ReadInputValue(slave, &value) || value == lastInputShown_) return;
    lastInputShown_ = value;
    for (int bit = 0; bit < kLamps; ++bit) {
        m_lamps[static_cast<size_t>(bit)] = (value >> bit) & 1 ? kLit : kDark;
    }
    ShowFields();
    inputHex_->setText(HexText(value));
}

void Cia402Mode::OnCbnSelchangeMotor() {
    TakeFields();
    ShowMotorOutputs();
}

void Cia402Mode::OnBnClickedOutputBit() {
    TakeFields();
    WriteOutputs();
}

// Every lamp goes dark when clicked, whatever its input: the next change of the
// inputs lights it again.
void Cia402Mode::OnBnClickedInputLamp(int bit) {
    if (bit < 0 || bit >= kLamps) return;
    m_lamps[static_cast<size_t>(bit)] = kDark;
    ShowFields();
}

void Cia402Mode::OnBnClickedStart() {
    const std::wstring refusal = StartMove(SelectedSlave(), m_speed.toStdWString(),
                                           m_accel.toStdWString(), m_position.toStdWString());
    ShowMessageBoxIfAny(refusal);
}

void Cia402Mode::OnBnClickedStop() {
    StopMove();
}

void Cia402Mode::OnBnClickedCpioMode() {
    TakeFields();
    ApplyCpioMode(m_cpio);
}

void Cia402Mode::OnBnClickedOutTest() {
    TakeFields();
    g_outTestOn = m_outTest;
}

// Enter in a field presses no button and goes no further.
void Cia402Mode::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
