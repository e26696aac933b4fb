#include "tools/gui/board_init.hpp"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "platform/gui/dialog_units.hpp"
#include "platform/message_box.hpp"

BoardInit* g_dlgBoardInit = nullptr;

BoardInit::BoardInit(QWidget* parent) : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/false) {
    setWindowTitle("InitBoard");
    setFixedSize(dlu::Size(250, 100));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    auto* label = new QLabel("ZRx Serial NO:", this);
    label->setGeometry(dlu::Rect(10, 34, 60, 12));
    serial_ = new QLineEdit(this);
    serial_->setObjectName("serialEdit");
    serial_->setGeometry(dlu::Rect(72, 32, 110, 14));
    label->setBuddy(serial_);
    connect(serial_, &QLineEdit::textChanged, this, [this] { TakeFields(); });

    static const char* const kTypes[] = {"ZR01", "ZR02", "ZR12"};
    auto* group = new QButtonGroup(this);
    for (int i = 0; i < kBoardTypeCount; ++i) {
        types_[i] = new QRadioButton(kTypes[i], this);
        types_[i]->setObjectName(QString("radio") + kTypes[i]);
        types_[i]->setGeometry(dlu::Rect(72 + 40 * i, 54, 38, 12));
        group->addButton(types_[i], i);
    }
    types_[0]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, [this] { TakeFields(); });

    AddButton("BoardInitSet", "boardInitSetButton", dlu::Rect(86, 8, 70, 18),
              [this] { OnBnClickedBoardInitSet(); });

    AddQuitButton(dlu::Rect(186, 76, 54, 18));
}

void BoardInit::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    m_slaveIndex = slaveCombo_->currentIndex();
}

void BoardInit::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
    m_serialText = serial_->text().toStdWString();
    for (int i = 0; i < kBoardTypeCount; ++i) {
        if (types_[i]->isChecked()) m_boardType = i;
    }
}

void BoardInit::OnBnClickedBoardInitSet() {
    const std::wstring message = SetBoardIdentity(m_slaveIndex + 1, m_serialText, m_boardType);
    ShowMessageBoxIfAny(message);
}
