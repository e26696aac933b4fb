#include "tools/gui/coe_controls.hpp"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "platform/gui/dialog_units.hpp"
#include "platform/gui/field_text.hpp"
#include "platform/message_box.hpp"

QButtonGroup* AddDataTypeRadios(QWidget* parent, int x, int y) {
    struct Radio {
        int type;
        const char* caption;
        const char* name;
    };
    static constexpr Radio kRadios[] = {{kCoeType4Byte, "4Byte", "type4Byte"},
                                        {kCoeTypeString, "String", "typeString"},
                                        {kCoeType2Byte, "2Byte", "type2Byte"},
                                        {kCoeType1Byte, "1Byte", "type1Byte"}};
    constexpr int kPitch = 38;
    auto* group = new QButtonGroup(parent);
    for (const Radio& radio : kRadios) {
        auto* button = new QRadioButton(QString::fromLatin1(radio.caption), parent);
        button->setObjectName(radio.name);
        button->setGeometry(dlu::Rect(x + radio.type * kPitch, y, kPitch - 4, 10));
        group->addButton(button, radio.type);
    }
    return group;
}

QLineEdit* AddField(QWidget* parent, const char* name, const QRect& geometry) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setGeometry(geometry);
    return field;
}

QLineEdit* AddResultField(QWidget* parent, const char* name, const QRect& geometry) {
    QLineEdit* field = AddField(parent, name, geometry);
    field->setReadOnly(true);
    return field;
}

void CoeGroup::ConnectChanges(QObject* window, const std::function<void()>& takeFields) const {
    QObject::connect(slaveCombo, &QComboBox::currentIndexChanged, window, takeFields);
    QObject::connect(dataTypeGroup, &QButtonGroup::idClicked, window, takeFields);
    for (QLineEdit* edit : {indexEdit, subindexEdit, dataEdit}) {
        OnFieldChange(edit, window, takeFields);
    }
}

void CoeGroup::Take() {
    fields.slaveIndex = slaveCombo->currentIndex();
    fields.dataType = dataTypeGroup->checkedId();
    fields.index = indexEdit->text().toStdWString();
    fields.subindex = subindexEdit->text().toStdWString();
    fields.data = dataEdit->text().toStdWString();
}

void CoeGroup::Show() const {
    {
        const QSignalBlocker block(slaveCombo);
        slaveCombo->setCurrentIndex(fields.slaveIndex);
    }
    if (QAbstractButton* radio = dataTypeGroup->button(fields.dataType)) radio->setChecked(true);
    ShowFieldText(indexEdit, QString::fromStdWString(fields.index));
    ShowFieldText(subindexEdit, QString::fromStdWString(fields.subindex));
    ShowFieldText(dataEdit, QString::fromStdWString(fields.data));
}

namespace {

void ShowOutcome(const CoeOutcome& outcome, QLineEdit* resultEdit) {
    ShowMessageBoxIfAny(outcome.message);
    if (outcome.accessed) resultEdit->setText(QString::fromStdWString(outcome.result));
}

}  // namespace

void CoeGroup::Read(const CoeWindowRules& rules) const {
    ShowOutcome(CoeRead(fields, rules), resultEdit);
}

void CoeGroup::Write(const CoeWindowRules& rules) const {
    ShowOutcome(CoeWrite(fields, rules), resultEdit);
}
