#include "tools/gui/cia402_mode.hpp"

Cia402Mode* g_dlgCia402Mode = nullptr;

Cia402Mode::Cia402Mode(QWidget* parent) : QWidget(parent) {}
