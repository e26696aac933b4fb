#include "motor/gui/para_set.hpp"

ParaSet::ParaSet(QWidget* parent) : QDialog(parent) {}
