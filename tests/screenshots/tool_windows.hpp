// Pictures of the firmware update dialog during a run and of the board
// initialisation dialog filled in.
#pragma once

#include "screenshots/motor_windows.hpp"

// Needs the scanned ZR12, IO, ZR02 segment. Returns false when a picture could
// not be written.
bool SaveToolWindows(const QDir& folder, SaveWindow save);
