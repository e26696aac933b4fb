// The dialogs and tab pages that live for the whole run (each declared beside its
// class), made after the application object (widgets need it) and before the bus
// threads start.
#pragma once

// Builds them in their fixed order; a second call does nothing.
void CreateGlobalDialogs();
// Destroys them in the reverse order; the main window must be gone by then.
void DestroyGlobalDialogs();
