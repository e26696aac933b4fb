#include "tools/gui/slave_memory.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/message_box.hpp"
#include "tools/gui/coe_controls.hpp"
#include "tools/slave_registers.hpp"

SlaveMemory* g_dlgSlaveMemory = nullptr;

SlaveMemory::SlaveMemory(QWidget* parent)
    : ToolDialog(parent, /*enterCloses=*/false, /*ticks=*/false) {
    setWindowTitle("SlaveMemory");
    setFixedSize(dlu::Size(200, 96));

    slaveCombo_ = AddSlaveCombo();
    connect(slaveCombo_, &QComboBox::currentIndexChanged, this, [this] { TakeFields(); });

    (new QLabel("Address(hex)", this))->setGeometry(dlu::Rect(10, 34, 50, 8));
    addressEdit_ = AddField(this, "addressEdit", dlu::Rect(62, 32, 50, 14));

    AddButton("Read", "readButton", dlu::Rect(10, 52, 44, 16), [this] { OnBnClickedRead(); });
    readValueEdit_ = AddResultField(this, "readValueEdit", dlu::Rect(62, 53, 50, 14));
    (new QLabel("(Hex)", this))->setGeometry(dlu::Rect(116, 56, 24, 8));

    AddButton("Write", "writeButton", dlu::Rect(10, 72, 44, 16), [this] { OnBnClickedWrite(); });
    writeValueEdit_ = AddField(this, "writeValueEdit", dlu::Rect(62, 73, 50, 14));
    (new QLabel("(Hex)", this))->setGeometry(dlu::Rect(116, 76, 24, 8));

    for (QLineEdit* edit : {addressEdit_, writeValueEdit_}) {
        OnFieldChange(edit, this, [this] { TakeFields(); });
    }

    AddQuitButton(dlu::Rect(146, 72, 44, 16));
}

// The texts stay from the last opening; the slave list starts at the first slave.
void SlaveMemory::OnInitDialog() {
    FillSlaveList(slaveCombo_);
    m_slaveIndex = 0;
    TakeFields();
}

void SlaveMemory::TakeFields() {
    m_slaveIndex = slaveCombo_->currentIndex();
    m_address = addressEdit_->text().toStdWString();
    m_write = writeValueEdit_->text().toStdWString();
}

void SlaveMemory::OnBnClickedRead() {
    const RegisterReadOutcome outcome = ReadSlaveRegister(m_slaveIndex, m_address);
    if (!outcome.message.empty()) {
        ShowMessageBox(outcome.message);
        return;
    }
    readValueEdit_->setText(QString::fromStdWString(outcome.shown));
}

void SlaveMemory::OnBnClickedWrite() {
    const std::wstring refusal = WriteSlaveRegister(m_slaveIndex, m_address, m_write);
    ShowMessageBoxIfAny(refusal);
}
