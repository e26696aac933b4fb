// The Qt form of the program's OK message boxes.
#pragma once

// Installs the boxes' presenter and the hand-over to the GUI thread; call on the
// GUI thread once the application object exists. A box asked for by another
// thread is shown on the GUI thread while that thread waits until it is closed.
void InstallQtMessageBoxes();
