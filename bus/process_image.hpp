// The process image exchanged with the bus, the 24-byte process-data block of
// every bridge and the per-motor shadow arrays' way in and out of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

inline constexpr size_t kIoMapSize = 4096;
inline constexpr size_t kBridgeBlockBytes = 24;  // per direction
inline constexpr size_t kChannelBytes = 6;

extern uint8_t g_ioMap[kIoMapSize];

// Holds the process image still. The exchange, the pack and unpack passes, the
// mapping of a scan and every direct read or write of g_ioMap by a window take it,
// so no frame carries a half-written channel.
std::unique_lock<std::mutex> LockProcessImage();

// Sizes of the mapped output and input areas (ec_slave[0].Obytes / Ibytes of the
// last mapping). A bridge block is written and read only when its slave mapped
// exactly 24 bytes that way and the block lies inside its area. Set by the scan
// under the image lock.
void SetMappedAreaSizes(uint32_t outputBytes, uint32_t inputBytes);
// The sizes SetMappedAreaSizes left; 0 before a mapping. The caller holds
// LockProcessImage().
uint32_t MappedOutputBytes();
uint32_t MappedInputBytes();

// Zeroes all 4096 bytes of g_ioMap (takes the lock).
void ClearIoMap();

// Zeroes g_ioMap and forgets the mapped area sizes (tests, between runs).
void ResetProcessImage();

// For every bridge in the table: controlwords 0x000F, digital outputs 0.
void ResetMotorOutputs();

// Runs the position ramp (unless g_moveStop) and writes every bridge's output
// block at `out` + its offset. The caller holds LockProcessImage().
void PackBridgeOutputs(uint8_t* out);

// Copies every bridge's statuswords and actual positions from `in` + its offset
// into the shadow arrays. The caller holds LockProcessImage().
void UnpackBridgeInputs(const uint8_t* in);

// Writes `position` into the target-position field of motor 1..4 of bridge
// ordinal `bridge` in the output area of the current mapping (takes the lock).
void WriteTargetPosition(int bridge, int motor, int32_t position);

// One exchange of the whole image with the process image held; returns the
// working counter as ec_receive_processdata gives it.
int ExchangeProcessData();

// The process-data thread's body: exchanges every 20 ms unless g_busPause, until
// the bus threads stop.
void ProcessDataThread();
