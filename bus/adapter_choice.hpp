// The list of Ethernet adapters that the adapter dialog offers, made by the scan
// thread on request (g_lanScanState hand-shake), and the automatic choice of the
// first Ethernet adapter.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr int kMaxListedAdapters = 10;
inline constexpr int kAdapterEntryBytes = 512;
inline constexpr uint64_t kMinListedLinkSpeed = 100000000;  // bit/s
inline constexpr char kCaptureDevicePrefix[] = "\\Device\\NPF_";

// 0 nothing asked, 1 list requested, 2 list ready, 3 list shown, 4 adapter chosen.
extern std::atomic<int32_t> g_lanScanState;

// Written completely by ListEthernetAdapters before it sets g_lanScanState to 2;
// read by the dialog only after it has seen 2.
extern std::atomic<int32_t> g_adapterCount;
extern char g_adapterNames[kMaxListedAdapters][kAdapterEntryBytes];
extern char g_adapterGuids[kMaxListedAdapters][kAdapterEntryBytes];

// Lists the first ten Ethernet adapters of at least 100 Mbit/s and sets
// g_lanScanState to 2. Returns 0 listed; -1 the adapters could not be queried;
// -3 a name did not fit its entry (the state stays 1).
int ListEthernetAdapters();

// Finds the first Ethernet adapter (any speed). Returns 1 and its GUID name in
// `guid` (bounded by `guidSize`), 0 when there is none, -1 when the adapters could
// not be queried.
int PickFirstEthernetAdapter(char* guid, size_t guidSize);

// Empties the adapter list and its hand-shake (tests, between runs).
void ResetAdapterChoice();
