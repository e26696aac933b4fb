#include "tools/gui/mail_box_coe.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/gui/dialog_units.hpp"

MailBoxCoe* g_dlgMailBoxCoe = nullptr;

MailBoxCoe::MailBoxCoe(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/false) {
    setWindowTitle("MailBox");
    setFixedSize(dlu::Size(244, 136));

    coe_.slaveCombo = AddSlaveCombo();
    label_ = new QLabel(this);
    label_->setObjectName("labelText");
    label_->setGeometry(dlu::Rect(84, 13, 60, 8));

    coe_.dataTypeGroup = AddDataTypeRadios(this, 10, 32);

    (new QLabel("Index(hex)", this))->setGeometry(dlu::Rect(10, 48, 50, 8));
    coe_.indexEdit = AddField(this, "indexEdit", dlu::Rect(10, 58, 50, 14));
    (new QLabel("Sub Index(Hex)", this))->setGeometry(dlu::Rect(70, 48, 60, 8));
    coe_.subindexEdit = AddField(this, "subindexEdit", dlu::Rect(70, 58, 40, 14));
    AddButton("COE_Read", "coeReadButton", dlu::Rect(128, 56, 50, 18),
              [this] { OnBnClickedCoeRead(); });
    AddButton("COE_Write", "coeWriteButton", dlu::Rect(184, 56, 50, 18),
              [this] { OnBnClickedCoeWrite(); });
    coe_.resultEdit = AddResultField(this, "resultEdit", dlu::Rect(10, 80, 224, 14));
    coe_.dataEdit = AddField(this, "dataEdit", dlu::Rect(10, 98, 224, 14));
    coe_.ConnectChanges(this, [this] { TakeFields(); });

    AddQuitButton(dlu::Rect(184, 116, 50, 14));
}

// Each opening starts afresh: 4Byte, empty fields, the slave list as the
// expected slave count now gives it.
void MailBoxCoe::OnInitDialog() {
    m_labelText = L"  ";
    FillSlaveList(coe_.slaveCombo);
    coe_.fields = CoeFields{};
    coe_.fields.slaveIndex = coe_.slaveCombo->currentIndex();
    coe_.resultEdit->clear();
    ShowFields();
}

void MailBoxCoe::TakeFields() {
    coe_.Take();
}

void MailBoxCoe::ShowFields() {
    label_->setText(QString::fromStdWString(m_labelText));
    coe_.Show();
}

void MailBoxCoe::OnBnClickedCoeRead() {
    coe_.Read(kMailBoxRules);
}

void MailBoxCoe::OnBnClickedCoeWrite() {
    coe_.Write(kMailBoxRules);
}
