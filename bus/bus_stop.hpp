// The bus threads' stop request and the pause that a stop cuts short. A leaf of
// the bus layer: every loop and helper that pauses uses it; only the thread
// start and stop (bus_threads) raise and clear the request.
#pragma once

// True while the bus threads are being asked to end.
bool BusThreadsStopping();

// Sleeps `ms` milliseconds, or less when the threads are told to stop. The bus
// threads' pauses go through it so that a stop is prompt.
void BusSleep(int ms);

// Raises the request and wakes every BusSleep.
void RequestBusStop();
// Lets the helpers that the GUI shares with the threads pause normally again.
void ClearBusStop();
