#include "motor/gui/option_set1.hpp"

OptionSet1::OptionSet1(QWidget* parent) : QDialog(parent) {}
