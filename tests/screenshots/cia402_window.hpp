// A picture of the CiA402 page after a move and with two outputs switched on.
#pragma once

#include "screenshots/motor_windows.hpp"

// Needs the scanned ZR12, IO, ZR02 segment and the main window shown. Returns
// false when the picture could not be written.
bool SaveCia402Window(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save);
