// The window's busy cursor: Qt's override cursor, shown once the GUI thread's
// fixed pauses and device waits pass their limit (bus/busy_wait.hpp) and taken
// away as soon as its event loop runs again.
#pragma once

// Installs it for the calling thread, the application's; the application
// object must exist.
void InstallBusyCursor();
