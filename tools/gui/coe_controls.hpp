// Controls that the tool windows share, and the object read and write group that
// the CoE page and the mailbox dialog both carry.
#pragma once

#include <functional>

#include "tools/coe_access.hpp"

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QObject;
class QRect;
class QString;
class QWidget;

// The data-type radios "4Byte", "String", "2Byte", "1Byte" in one row from (x, y),
// in dialog units; each radio's id in the group is its data type (kCoeType4Byte
// ...). Object names "type4Byte", "typeString", "type2Byte", "type1Byte".
QButtonGroup* AddDataTypeRadios(QWidget* parent, int x, int y);

// A one-line field with an object name.
QLineEdit* AddField(QWidget* parent, const char* name, const QRect& geometry);

// A read-only field for read results and status texts.
QLineEdit* AddResultField(QWidget* parent, const char* name, const QRect& geometry);

// The object read and write group: the widgets each window lays out, and what
// they held when the user last changed one (the handlers act on that).
struct CoeGroup {
    QComboBox* slaveCombo = nullptr;
    QButtonGroup* dataTypeGroup = nullptr;
    QLineEdit* indexEdit = nullptr;
    QLineEdit* subindexEdit = nullptr;
    QLineEdit* resultEdit = nullptr;
    QLineEdit* dataEdit = nullptr;
    CoeFields fields;

    // Runs `takeFields` of `window` on every edit of a field, choice of a slave
    // and click of a data-type radio.
    void ConnectChanges(QObject* window, const std::function<void()>& takeFields) const;
    // The widgets into `fields`, and `fields` back into the widgets (the slave
    // list without a selection-change notice).
    void Take();
    void Show() const;
    // READ and WRITE with `fields`: a refusal of the fields in a message box; a
    // read's result, or a write's refusal by the device, in the result field (a
    // write the device took empties it).
    void Read(const CoeWindowRules& rules) const;
    void Write(const CoeWindowRules& rules) const;
};
