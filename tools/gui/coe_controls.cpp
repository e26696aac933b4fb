#include "tools/gui/coe_controls.hpp"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>

#include "platform/gui/dialog_units.hpp"
#include "tools/coe_access.hpp"

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
