// Pictures of the process-data dialog with a byte just written and echoed, and
// of the register dialog after a read.
#pragma once

#include "screenshots/motor_windows.hpp"

// Needs the scanned ZR12, IO, ZR02 segment. Returns false when a picture could
// not be written.
bool SavePdoAndRegisterWindows(const QDir& folder, SaveWindow save);
