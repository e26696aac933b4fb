#include "motor/gui/voze_rudadozira_vur.hpp"

VozeRudadoziraVur::VozeRudadoziraVur(QWidget* parent) : QDialog(parent) {}
