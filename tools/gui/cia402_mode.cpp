#include "tools/gui/cia402_mode.hpp"

Cia402Mode::Cia402Mode(QWidget* parent) : QWidget(parent) {}
