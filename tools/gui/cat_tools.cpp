#include "tools/gui/cat_tools.hpp"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

#include "bus/globals.hpp"
#include "bus/gui/slave_combo.hpp"
#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/gui/page_font.hpp"
#include "platform/gui/page_tick.hpp"
#include "platform/gui/push_button.hpp"
#include "platform/message_box.hpp"
#include "tools/axis_modes.hpp"

CatTools* g_dlgCatTools = nullptr;

namespace {

constexpr int kMotors = 4;
constexpr int kHomingInputs = 6;
const char* const kHomingTypes[] = {"StopperCW", "StopperCCW", "SwitchCW", "SwitchCCW"};

QLabel* AddLabel(QWidget* parent, const char* text, const QRect& geometry) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(geometry);
    return label;
}

QComboBox* AddList(QWidget* parent, const char* name, const QRect& geometry) {
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setGeometry(geometry);
    return list;
}

// Empties a list and fills it with `texts`, the first selected, without telling
// the page: a fill is no choice of the user's.
void FillList(QComboBox* list, const QStringList& texts) {
    QSignalBlocker block(list);
    list->clear();
    list->addItems(texts);
    list->setCurrentIndex(0);
}

}  // namespace

CatTools::CatTools(QWidget* parent) : QWidget(parent) {
    resize(dlu::Size(457, 295));
    // The page starts at the device name object.
    coe_.fields.index = L"1008";
    coe_.fields.subindex = L"0";
    BuildCoeGroup();
    BuildHomingGroup();
    timer_.setInterval(kPageTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { OnTimer(); });
    OnInitDialog();
}

void CatTools::BuildCoeGroup() {
    coe_.slaveCombo = AddList(this, "slaveCombo", dlu::Rect(16, 14, 66, 14));
    coe_.dataTypeGroup = AddDataTypeRadios(this, 98, 16);
    AddLabel(this, "Index(Hex)", dlu::Rect(16, 38, 50, 8));
    coe_.indexEdit = AddField(this, "indexEdit", dlu::Rect(16, 48, 50, 14));
    AddLabel(this, "Sub Index(Hex)", dlu::Rect(76, 38, 60, 8));
    coe_.subindexEdit = AddField(this, "subindexEdit", dlu::Rect(76, 48, 40, 14));
    QPushButton* read = MakeButton("READ", "readButton", dlu::Rect(136, 46, 50, 18), this);
    connect(read, &QPushButton::clicked, this, [this] { OnBnClickedRead(); });
    QPushButton* write = MakeButton("WRITE", "writeButton", dlu::Rect(192, 46, 50, 18), this);
    connect(write, &QPushButton::clicked, this, [this] { OnBnClickedWrite(); });
    coe_.resultEdit = AddResultField(this, "resultEdit", dlu::Rect(16, 70, 300, 14));
    coe_.dataEdit = AddField(this, "dataEdit", dlu::Rect(16, 90, 300, 14));
    coe_.ConnectChanges(this, [this] { TakeFields(); });
}

void CatTools::BuildHomingGroup() {
    auto* group = new QGroupBox(QStringLiteral("Homing  Mode "), this);
    group->setGeometry(dlu::Rect(8, 116, 440, 80));
    group->lower();
    AddLabel(this,
             "MotorId        modes(6098h)     offSet(607Ch)  Sw.Sp(6099h)  Stp.Sp    "
             "accel(609Ah)",
             dlu::Rect(16, 130, 320, 8));

    motorCombo_ = AddList(this, "motorCombo", dlu::Rect(16, 142, 50, 14));
    connect(motorCombo_, &QComboBox::currentIndexChanged, this, [this] { OnCbnSelchangeMotor(); });
    homingTypeCombo_ = AddList(this, "homingTypeCombo", dlu::Rect(70, 142, 62, 14));
    connect(homingTypeCombo_, &QComboBox::currentIndexChanged, this,
            [this] { OnCbnSelchangeHomingMode(); });
    hmOffsetEdit_ = AddField(this, "hmOffsetEdit", dlu::Rect(136, 142, 46, 14));
    hmSpeed1Edit_ = AddField(this, "hmSpeed1Edit", dlu::Rect(186, 142, 46, 14));
    hmSpeed2Edit_ = AddField(this, "hmSpeed2Edit", dlu::Rect(236, 142, 46, 14));
    hmAccelEdit_ = AddField(this, "hmAccelEdit", dlu::Rect(286, 142, 46, 14));

    // The torque and the homing input share one place; the homing type picks one.
    torqueLabel_ = AddLabel(this, "torque(K47)", dlu::Rect(344, 130, 50, 8));
    torqueLabel_->setObjectName("torqueLabel");
    torqueEdit_ = AddField(this, "torqueEdit", dlu::Rect(344, 142, 40, 14));
    homingInputLabel_ = AddLabel(this, "Homing INPUT", dlu::Rect(344, 130, 56, 8));
    homingInputLabel_->setObjectName("homingInputLabel");
    homingInputCombo_ = AddList(this, "homingInputCombo", dlu::Rect(344, 142, 56, 14));
    connect(homingInputCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    for (QLineEdit* edit :
         {hmOffsetEdit_, hmSpeed1Edit_, hmSpeed2Edit_, hmAccelEdit_, torqueEdit_}) {
        OnFieldChange(edit, this, [this] { TakeFields(); });
    }

    hmStartButton_ = MakeButton("hm Start", "hmStartButton", dlu::Rect(16, 168, 50, 18), this);
    homingStatusEdit_ = AddResultField(this, "homingStatusEdit", dlu::Rect(72, 170, 300, 14));
    stopHmButton_ = MakeButton("Stop hm", "stopHmButton", dlu::Rect(380, 168, 50, 18), this);
    connect(hmStartButton_, &QPushButton::clicked, this, [this] { OnBnClickedHmStart(); });
    connect(stopHmButton_, &QPushButton::clicked, this, [this] { OnBnClickedStopHm(); });
}

void CatTools::OnInitDialog() {
    // Modern family (fixed pitch), 14 pixels high, any weight.
    coe_.slaveCombo->setFont(SizedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), 14, 0));
    homingInputCombo_->hide();
    homingInputLabel_->hide();
    coe_.fields.dataType = kCoeTypeString;
    timer_.start();
    ShowFields();
    ShowHomingColour();
}

void CatTools::TakeFields() {
    coe_.Take();
    m_homing.offset = hmOffsetEdit_->text().toStdWString();
    m_homing.switchSpeed = hmSpeed1Edit_->text().toStdWString();
    m_homing.zeroSpeed = hmSpeed2Edit_->text().toStdWString();
    m_homing.acceleration = hmAccelEdit_->text().toStdWString();
    m_homing.motorIndex = motorCombo_->currentIndex();
    m_homing.homingType = homingTypeCombo_->currentIndex();
    m_homing.torque = torqueEdit_->text().toStdWString();
    m_homing.homingInput = homingInputCombo_->currentIndex();
}

void CatTools::ShowFields() {
    const QSignalBlocker blockMotor(motorCombo_);
    const QSignalBlocker blockType(homingTypeCombo_);
    const QSignalBlocker blockInput(homingInputCombo_);
    coe_.Show();
    ShowFieldText(hmOffsetEdit_, QString::fromStdWString(m_homing.offset));
    ShowFieldText(hmSpeed1Edit_, QString::fromStdWString(m_homing.switchSpeed));
    ShowFieldText(hmSpeed2Edit_, QString::fromStdWString(m_homing.zeroSpeed));
    ShowFieldText(hmAccelEdit_, QString::fromStdWString(m_homing.acceleration));
    motorCombo_->setCurrentIndex(m_homing.motorIndex);
    homingTypeCombo_->setCurrentIndex(m_homing.homingType);
    ShowFieldText(torqueEdit_, QString::fromStdWString(m_homing.torque));
    homingInputCombo_->setCurrentIndex(m_homing.homingInput);
}

void CatTools::OnTimer() {
    if (g_busReady.load() == 1 && g_catToolsListsFilled.load() == 0) {
        FillLists();
        g_catToolsListsFilled = 1;
    }
    if (g_homingActive.load() != 0) UpdateHomingProgress();
    ShowHomingColour();
}

void CatTools::OnBnClickedHmStart() {
    m_homing.slaveIndex = coe_.fields.slaveIndex;
    const std::wstring refusal = StartHoming(m_homing);
    // The old status text stays until the first supervision step; its colour
    // already says that a run is on.
    ShowHomingColour();
    ShowMessageBoxIfAny(refusal);
}

void CatTools::OnBnClickedStopHm() {
    StopHoming();
}

void CatTools::UpdateHomingProgress() {
    homingStatusEdit_->setText(QString::fromStdWString(SuperviseHoming()));
}

void CatTools::ShowHomingColour() {
    const int32_t result = g_homingResult.load();
    if (result == shownHomingResult_) return;
    shownHomingResult_ = result;
    QPalette palette = homingStatusEdit_->palette();
    palette.setColor(QPalette::Text, QColor::fromRgb(HomingStatusColour(result)));
    homingStatusEdit_->setPalette(palette);
}

// Once per run: a later scan or slave count leaves the lists as they are.
void CatTools::FillLists() {
    {
        const QSignalBlocker block(coe_.slaveCombo);
        FillSlaveCombo(coe_.slaveCombo);
    }
    QStringList motors;
    for (int motor = 1; motor <= kMotors; ++motor) motors << QStringLiteral("Motor.%1").arg(motor);
    FillList(motorCombo_, motors);
    QStringList types;
    for (const char* type : kHomingTypes) types << QString::fromLatin1(type);
    FillList(homingTypeCombo_, types);
    QStringList inputs;
    for (int input = 1; input <= kHomingInputs; ++input) {
        inputs << QStringLiteral("INPUT%1").arg(input);
    }
    FillList(homingInputCombo_, inputs);
    // The handlers address what the lists now show.
    TakeFields();
}

void CatTools::OnBnClickedWrite() {
    coe_.Write(kCoePageRules);
}

void CatTools::OnBnClickedRead() {
    coe_.Read(kCoePageRules);
}

void CatTools::OnCbnSelchangeMotor() {
    TakeFields();
    const int slaveIndex = coe_.fields.slaveIndex;
    if (slaveIndex >= 0) EnableAxisOutputs(slaveIndex + 1, m_homing.motorIndex);
}

void CatTools::OnCbnSelchangeHomingMode() {
    TakeFields();
    const bool switchType = m_homing.homingType >= kHomingSwitchCw;
    homingInputCombo_->setVisible(switchType);
    homingInputLabel_->setVisible(switchType);
    torqueEdit_->setVisible(!switchType);
    torqueLabel_->setVisible(!switchType);
}

// Enter in the page's fields presses nothing: the page has no default action.
void CatTools::keyPressEvent(QKeyEvent* event) {
    if (IsEnterKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}
