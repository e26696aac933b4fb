#include "tools/gui/mail_box_coe.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/gui/dialog_units.hpp"
#include "platform/message_box.hpp"
#include "tools/coe_access.hpp"
#include "tools/gui/coe_controls.hpp"

MailBoxCoe* g_dlgMailBoxCoe = nullptr;

MailBoxCoe::MailBoxCoe(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/false) {
    setWindowTitle("MailBox");
    setFixedSize(dlu::Size(244, 136));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });
    label_ = new QLabel(this);
    label_->setObjectName("labelText");
    label_->setGeometry(dlu::Rect(84, 13, 60, 8));

    dataTypeGroup_ = AddDataTypeRadios(this, 10, 32);
    connect(dataTypeGroup_, &QButtonGroup::idClicked, this,
            [this](int type) { OnBnClickedDataType(type); });

    (new QLabel("Index(hex)", this))->setGeometry(dlu::Rect(10, 48, 50, 8));
    indexEdit_ = AddField(this, "indexEdit", dlu::Rect(10, 58, 50, 14));
    (new QLabel("Sub Index(Hex)", this))->setGeometry(dlu::Rect(70, 48, 60, 8));
    subindexEdit_ = AddField(this, "subindexEdit", dlu::Rect(70, 58, 40, 14));
    QPushButton* read = AddButton("COE_Read", dlu::Rect(128, 56, 50, 18));
    read->setObjectName("coeReadButton");
    connect(read, &QPushButton::clicked, this, [this] { OnBnClickedCoeRead(); });
    QPushButton* write = AddButton("COE_Write", dlu::Rect(184, 56, 50, 18));
    write->setObjectName("coeWriteButton");
    connect(write, &QPushButton::clicked, this, [this] { OnBnClickedCoeWrite(); });
    resultEdit_ = AddResultField(this, "resultEdit", dlu::Rect(10, 80, 224, 14));
    dataEdit_ = AddField(this, "dataEdit", dlu::Rect(10, 98, 224, 14));
    for (QLineEdit* edit : {indexEdit_, subindexEdit_, dataEdit_}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { TakeFields(); });
    }

    QPushButton* quit = AddButton("Quit", dlu::Rect(184, 116, 50, 14));
    quit->setObjectName("quitButton");
    connect(quit, &QPushButton::clicked, this, [this] { OnBnClickedQuit(); });
}

// Each opening starts afresh: 4Byte, empty fields, the slave list as the
// expected slave count now gives it.
void MailBoxCoe::OnInitDialog() {
    m_labelText = L"  ";
    FillSlaveList(slaveCombo_);
    m_dataType = kCoeType4Byte;
    m_index.clear();
    m_subindex.clear();
    m_data.clear();
    m_slaveIndex = slaveCombo_->currentIndex();
    resultEdit_->clear();
    ShowFields();
}

void MailBoxCoe::TakeFields() {
    m_dataType = dataTypeGroup_->checkedId();
    m_index = indexEdit_->text().toStdWString();
    m_subindex = subindexEdit_->text().toStdWString();
    m_data = dataEdit_->text().toStdWString();
    m_slaveIndex = slaveCombo_->currentIndex();
}

void MailBoxCoe::ShowFields() {
    const QSignalBlocker block(slaveCombo_);
    label_->setText(QString::fromStdWString(m_labelText));
    if (QAbstractButton* radio = dataTypeGroup_->button(m_dataType)) radio->setChecked(true);
    indexEdit_->setText(QString::fromStdWString(m_index));
    subindexEdit_->setText(QString::fromStdWString(m_subindex));
    dataEdit_->setText(QString::fromStdWString(m_data));
    slaveCombo_->setCurrentIndex(m_slaveIndex);
}

void MailBoxCoe::OnBnClickedDataType(int dataType) {
    TakeFields();
    m_dataType = dataType;
}

void MailBoxCoe::OnBnClickedCoeRead() {
    const CoeReadOutcome outcome =
        CoeRead({m_slaveIndex, m_dataType, m_index, m_subindex, m_data}, kMailBoxRules);
    if (!outcome.message.empty()) {
        ShowMessageBox(outcome.message);
        return;
    }
    resultEdit_->setText(QString::fromStdWString(outcome.result));
}

void MailBoxCoe::OnBnClickedCoeWrite() {
    const std::wstring refusal =
        CoeWrite({m_slaveIndex, m_dataType, m_index, m_subindex, m_data}, kMailBoxRules);
    if (!refusal.empty()) ShowMessageBox(refusal);
}
