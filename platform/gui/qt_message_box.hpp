// The Qt form of the program's OK message boxes.
#pragma once

// Installs the boxes' presenter and the GUI-thread hand-over; call on the GUI
// thread once the application object exists. On the offscreen platform nobody
// could ever close a box, so there the text goes to standard error and the
// caller goes on at once.
void InstallQtMessageBoxes();
