// Pictures of the CoE page after a read and during a homing run, and of the
// mailbox dialog.
#pragma once

#include "screenshots/motor_windows.hpp"

// Needs the scanned ZR12, IO, ZR02 segment and the main window shown. Returns
// false when a picture could not be written.
bool SaveCoeWindows(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save);
