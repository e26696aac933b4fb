// The serial speed switch of a bridge and its four motors.
#pragma once

#include <QDialog>

class OptionSet1 : public QDialog {
    Q_OBJECT
public:
    explicit OptionSet1(QWidget* parent = nullptr);
};
