// The scan and configuration thread: brings the bus up on request, records the
// bridges and then serves the process image every millisecond.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kIfNameBytes = 256;

// The name handed to ec_init: "\Device\NPF_" and the adapter's GUID name, or the
// LAN name of the settings. Fixed once per start of the threads. Read only by the
// scan thread and, after it has stopped, by tests.
extern char g_ifName[kIfNameBytes];

// Thread body; returns when the bus threads stop.
void ScanThread();

// The acceleration word written to each bridge (0xF550:04): 0x05B2D7E1 plus
// 10000 / accel (truncated toward zero). An acceleration of 0 counts as 1.
int32_t AccelerationWord(int32_t accel);

// Writes the acceleration word of `accel` to the bridge at `slave` (0xF550:04);
// the outcome is not reported.
void WriteAccelerationWord(int slave, int32_t accel);

// The EEPROM image jobs that the service loop runs when g_eepromRequest is 1
// (read to file) or 2 (write from file); installed by the EEPROM tools. Each job
// sets the request back to 0. Without a job the request is dropped.
using EepromJob = void (*)();
void InstallEepromJobs(EepromJob readToFile, EepromJob writeFromFile);

// Forgets the interface name of the last scan (tests, between runs).
void ResetScanThreadState();
