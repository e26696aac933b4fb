// The three bus threads: scan and configuration, process data, supervision. The
// top of the bus layer: only the program's start and tests include it.
#pragma once

// Starts the scan, process-data and supervision threads, in this order. Called
// once at program start; a second call while they run does nothing.
void StartBusThreads();

// Tells the bus threads to stop and joins them. The program calls it before it
// returns from main, so no bus thread outlives the globals it uses. The master
// library is left as it is (the bus is not closed). Safe to call when the threads
// are not running.
void StopBusThreads();
