// The EEPROM image tools: the first slave's configuration EEPROM (SII) read into
// the Intel-hex file "davozeZUdeRead.eep" and written from "davozeZUdeWrite.eep",
// both in the working folder. The scan thread's service loop runs the two jobs
// on g_eepromRequest 1 and 2 and they report to the supervision log; nothing in
// the windows sets the request.
#pragma once

#include <array>
#include <cstdint>

#include "tools/intel_hex.hpp"

inline constexpr char kEepromReadFileName[] = "davozeZUdeRead.eep";
inline constexpr char kEepromWriteFileName[] = "davozeZUdeWrite.eep";

// Results of EepromRead and EepromWrite.
inline constexpr int kEepromDone = 1;
inline constexpr int kEepromRefused = 0;  // no slave, or the range passes the image end
inline constexpr int kEepromFailed = -1;  // the slave did not take or deliver a word

// The EEPROM image, byte address = index; used by the jobs on the scan thread.
extern std::array<uint8_t, kHexImageBytes> g_eepromImage;

// The EEPROM size in bytes that SII size word 0x3E gives (kibibits minus 1),
// at most the image.
uint32_t EepromSizeBytes(uint16_t sizeWord);

// Reads EEPROM bytes start .. start + length - 1 of the first slave into
// g_eepromImage. On kEepromFailed `failedAt` holds the byte address that could
// not be read.
int EepromRead(uint32_t start, uint32_t length, uint32_t* failedAt);

// Writes the words of bytes start .. start + length - 1 that `loaded` covers
// from g_eepromImage into the first slave's EEPROM; a word with one byte
// covered takes its other byte from the EEPROM. On kEepromFailed `failedAt`
// holds the byte address of the word that was not written.
int EepromWrite(uint32_t start, uint32_t length, const HexCoverage& loaded, uint32_t* failedAt);

// Writes image bytes 0 .. length - 1 to `fileName` as Intel hex through the
// safe writer: 1, or -1 with the box "EEPROM BIN File (Intel) Write Error" (an
// earlier file then stays as it was; a link or no regular file is refused).
int WriteIntelHex(const char* fileName, uint32_t length);

// Loads the Intel-hex file `fileName` into g_eepromImage: the load with the
// lowest address and the span of the records; `loaded` marks the bytes given.
// Format and checksum errors are shown in a box; a file that is not a regular
// file, cannot be read or is longer than any image file (16 MiB) gives -1 with
// the box "EEPROM BIN File Read Error".
HexLoad ReadIntelHex(const char* fileName, HexCoverage& loaded);

// The jobs for requests 1 and 2; each sets g_eepromRequest back to 0.
void EepromReadToFile();
void EepromWriteFromFile();

// Hands both jobs to the scan thread (program start).
void InstallEepromImageJobs();

// Zeroes the image (tests).
void ResetEepromImageState();
