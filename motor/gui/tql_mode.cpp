#include "motor/gui/tql_mode.hpp"

TqlMode::TqlMode(QWidget* parent) : QWidget(parent) {}
