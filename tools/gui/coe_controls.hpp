// Controls that the CoE page and the mailbox dialog both carry.
#pragma once

class QButtonGroup;
class QLineEdit;
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
