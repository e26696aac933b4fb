// The bus threads' stop request and the tool's two pauses: the one that a stop
// cuts short, and the fixed one of the windows. A leaf of the bus layer: every
// loop and helper that pauses uses it; only the thread start and stop
// (bus_threads) raise and clear the request.
#pragma once

// True while the bus threads are being asked to end.
bool BusThreadsStopping();

// Sleeps `ms` milliseconds, or less when the threads are told to stop. The bus
// threads' pauses go through it so that a stop is prompt.
void BusSleep(int ms);

// Sleeps `ms` milliseconds whatever the bus threads do. The windows' device
// procedures wait out their fixed timings with it and block the GUI thread on
// purpose: their users know that a window freezes while it talks to the devices.
void PauseMs(int ms);

// Raises the request and wakes every BusSleep.
void RequestBusStop();
// Lets the helpers that the GUI shares with the threads pause normally again.
void ClearBusStop();
