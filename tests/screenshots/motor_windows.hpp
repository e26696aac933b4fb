// Pictures of the TQL page with traffic and the three motor set-up dialogs.
#pragma once

class CDuZEraDezorav1Dlg;
class QDir;
class QWidget;

// `save` writes one window to a PNG of the given name in the folder.
using SaveWindow = bool (*)(QWidget* widget, const QDir& folder, const char* name);

// Needs the scanned ZR12, IO, ZR02 segment and the main window shown. Returns
// false when a picture could not be written.
bool SaveMotorWindows(CDuZEraDezorav1Dlg& window, const QDir& folder, SaveWindow save);
