#include "tools/eeprom_image.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/scan_thread.hpp"
#include "ecmaster/extras.hpp"
#include "ethercat.h"
#include "platform/file_read.hpp"
#include "platform/file_write.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"

std::array<uint8_t, kHexImageBytes> g_eepromImage;

namespace {

// The first slave of the ring: position address 0 on the wire, slave 1 in the
// master's table and in the log lines.
constexpr uint16_t kFirstPosition = 0;
constexpr uint16_t kFirstSlave = 1;
constexpr int kRegisterTimeoutUs = 2000;
constexpr int kBroadcastTimeoutUs = 20000;
constexpr uint16_t kEepromConfigRegister = 0x0500;
constexpr uint16_t kEepromStatusRegister = 0x0502;
constexpr uint8_t kEepromReads8Bytes = 0x40;
constexpr uint32_t kHeaderBytes = 128;
// No image file is longer: a bigger one is refused as unreadable before it
// fills the memory.
constexpr size_t kHexFileMaxBytes = size_t{16} << 20;

// SII header words the logs show.
constexpr uint32_t kPdiControlWord = 0x00;
constexpr uint32_t kPdiConfigWord = 0x01;
constexpr uint32_t kAliasWord = 0x04;
constexpr uint32_t kChecksumWord = 0x07;
constexpr uint32_t kVendorWord = 0x08;
constexpr uint32_t kProductWord = 0x0A;
constexpr uint32_t kRevisionWord = 0x0C;
constexpr uint32_t kSerialWord = 0x0E;
constexpr uint32_t kMailboxProtocolWord = 0x1C;
constexpr uint32_t kSizeWord = 0x3E;
constexpr uint32_t kVersionWord = 0x3F;

// The covered bytes of the last write file (static: 4 KiB).
HexCoverage writeFileCoverage;

uint16_t ImageWord(uint32_t word) {
    return static_cast<uint16_t>(g_eepromImage[2 * word] | (g_eepromImage[2 * word + 1] << 8));
}

uint32_t ImageLong(uint32_t word) {
    return ImageWord(word) | (static_cast<uint32_t>(ImageWord(word + 1)) << 16);
}

// The whole block in one append, so that no line of another thread lands in it.
void Log(const std::string& block) {
    g_strSuperviseLog.appendBytes(block);
}

void ShowBox(const char* text) {
    ShowMessageBox(Latin1ToWide(text));
}

bool RangeFits(uint32_t start, uint32_t length) {
    return start <= kHexImageBytes && length <= kHexImageBytes - start;
}

// Whether any slave answers a broadcast read of register 0x0000.
bool SlaveAnswers() {
    uint8_t type[4] = {};
    return ec_BRD(0x0000, 0x0000, sizeof type, type, kBroadcastTimeoutUs) >= 1;
}

// Takes the EEPROM for the master: force (2), then release to the master (0).
bool TakeEeprom() {
    for (uint8_t config : {uint8_t{2}, uint8_t{0}}) {
        if (ec_APWR(kFirstPosition, kEepromConfigRegister, 1, &config, kRegisterTimeoutUs) < 1) {
            return false;
        }
    }
    return true;
}

bool ReadEepromWord(uint32_t byteAddress, uint64_t& value) {
    return ec_readeepromAP_checked(kFirstPosition, static_cast<uint16_t>(byteAddress / 2),
                                   EC_TIMEOUTEEP, &value) == 1;
}

std::string IdentityBlock() {
    std::string block = FormatText("--- Slave[%d] EEPROM Slave Info ---\r\n\r\n", kFirstSlave);
    block += FormatText(" PDI Control      : %4.4X\r\n", ImageWord(kPdiControlWord));
    block += FormatText(" PDI Config       : %4.4X\r\n", ImageWord(kPdiConfigWord));
    block += FormatText(" Config Alias     : %4.4X\r\n", ImageWord(kAliasWord));
    block += FormatText(" Checksum         : %4.4X\r\n", ImageWord(kChecksumWord));
    block += FormatText(" Vendor ID        : %8.8X\r\n", ImageLong(kVendorWord));
    block += FormatText(" Product Code     : %8.8X\r\n", ImageLong(kProductWord));
    block += FormatText(" Revision Number  : %8.8X\r\n", ImageLong(kRevisionWord));
    block += FormatText(" Serial Number    : %8.8X\r\n", ImageLong(kSerialWord));
    block += FormatText(" Mailbox Protocol : %4.4X\r\n", ImageWord(kMailboxProtocolWord));
    const uint16_t sizeWord = ImageWord(kSizeWord);
    block += FormatText(" Size             : %4.4X = %d bytes\r\n", sizeWord,
                        static_cast<int>(EepromSizeBytes(sizeWord)));
    block += FormatText(" Version          : %4.4X\r\n\r\n", ImageWord(kVersionWord));
    return block;
}

std::string WriteIdentityBlock() {
    std::string block =
        FormatText("--- Slave[%d] EEPROM Slave Info (Write) ---\r\n\r\n", kFirstSlave);
    block += FormatText(" Vendor ID        : %8.8X\r\n", ImageLong(kVendorWord));
    block += FormatText(" Product Code     : %8.8X\r\n", ImageLong(kProductWord));
    block += FormatText(" Revision Number  : %8.8X\r\n", ImageLong(kRevisionWord));
    block += FormatText(" Serial Number    : %8.8X\r\n\r\n", ImageLong(kSerialWord));
    block += "EEPROM  Write................\r\n\r\n";
    return block;
}

void LogTransferFailure(const char* transfer, uint32_t byteAddress) {
    Log(FormatText("--- Slave[%d] EEPROM  %s Failed at byte 0x%4.4X ---\r\n\r\n", kFirstSlave,
                   transfer, static_cast<unsigned>(byteAddress)));
}

}  // namespace

uint32_t EepromSizeBytes(uint16_t sizeWord) {
    return std::min<uint32_t>((uint32_t{sizeWord} + 1) * 128, kHexImageBytes);
}

int EepromRead(uint32_t start, uint32_t length, uint32_t* failedAt) {
    *failedAt = start;
    if (ec_slavecount < 1 || !RangeFits(start, length)) return kEepromRefused;
    if (!TakeEeprom()) return kEepromFailed;
    uint8_t status[2] = {};
    if (ec_APRD(kFirstPosition, kEepromStatusRegister, sizeof status, status, kRegisterTimeoutUs) <
        1) {
        return kEepromFailed;
    }
    const uint32_t step = (status[0] & kEepromReads8Bytes) != 0 ? 8 : 4;
    const uint32_t end = start + length;
    for (uint32_t at = start & ~1u; at < end; at += step) {
        uint64_t value = 0;
        if (!ReadEepromWord(at, value)) {
            *failedAt = std::max(at, start);
            return kEepromFailed;
        }
        for (uint32_t i = 0; i < step; ++i) {
            if (at + i >= start && at + i < end) {
                g_eepromImage[at + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
    }
    return kEepromDone;
}

int EepromWrite(uint32_t start, uint32_t length, const HexCoverage& loaded, uint32_t* failedAt) {
    *failedAt = start;
    if (ec_slavecount < 1 || !RangeFits(start, length)) return kEepromRefused;
    if (!TakeEeprom()) return kEepromFailed;
    const uint32_t end = start + length;
    for (uint32_t at = start & ~1u; at < end; at += 2) {
        const bool low = loaded.test(at);
        const bool high = at + 1 < kHexImageBytes && loaded.test(at + 1);
        if (!low && !high) continue;
        *failedAt = at;
        if (!low || !high) {
            // Half a word from the file: the other half stays as the EEPROM has it.
            uint64_t word = 0;
            if (!ReadEepromWord(at, word)) return kEepromFailed;
            if (!low) g_eepromImage[at] = static_cast<uint8_t>(word);
            if (!high) g_eepromImage[at + 1] = static_cast<uint8_t>(word >> 8);
        }
        if (ec_writeeepromAP(kFirstPosition, static_cast<uint16_t>(at / 2), ImageWord(at / 2),
                             EC_TIMEOUTEEP) != 1) {
            return kEepromFailed;
        }
    }
    return kEepromDone;
}

int WriteIntelHex(const char* fileName, uint32_t length) {
    const std::string text = FormatIntelHex(
        std::span<const uint8_t>(g_eepromImage).first(std::min<size_t>(length, kHexImageBytes)));
    if (!WriteWholeFile(fileName, text).ok()) {
        ShowBox("EEPROM BIN File (Intel) Write Error");
        return -1;
    }
    return 1;
}

HexLoad ReadIntelHex(const char* fileName, HexCoverage& loaded) {
    // Only a regular file is read: opening a pipe would hold the scan thread.
    std::vector<char> data;
    std::string reason;
    if (!ReadFileStart(fileName, kHexFileMaxBytes + 1, &data, &reason) ||
        data.size() > kHexFileMaxBytes) {
        ShowBox("EEPROM BIN File Read Error");
        return HexLoad{-1, kHexImageBytes, 0};
    }
    const HexLoad load =
        ParseIntelHex(std::string_view(data.data(), data.size()), g_eepromImage, loaded);
    if (load.result == kHexFormatError) ShowBox("EEPROM Invalid Intel Hex format.\n");
    if (load.result == kHexChecksumError) ShowBox("EEPROM Read File Hex Invalid checksum.\n");
    return load;
}

void EepromReadToFile() {
    if (SlaveAnswers()) {
        uint32_t failedAt = 0;
        if (EepromRead(0, kHeaderBytes, &failedAt) != kEepromDone) {
            LogTransferFailure("Read", failedAt);
        } else {
            const uint32_t size = EepromSizeBytes(ImageWord(kSizeWord));
            Log(IdentityBlock());
            if (EepromRead(kHeaderBytes, size - kHeaderBytes, &failedAt) != kEepromDone) {
                LogTransferFailure("Read", failedAt);
            } else {
                WriteIntelHex(kEepromReadFileName, size);
                Log(FormatText("--- Slave[%d] EEPROM  Read End ---\r\n\r\n", kFirstSlave));
            }
        }
    }
    g_eepromRequest = 0;
}

void EepromWriteFromFile() {
    if (SlaveAnswers()) {
        const HexLoad load = ReadIntelHex(kEepromWriteFileName, writeFileCoverage);
        Log(WriteIdentityBlock());
        if (load.result > 0) {
            uint32_t failedAt = 0;
            const int written = EepromWrite(load.start, load.length, writeFileCoverage, &failedAt);
            // Whatever reached the EEPROM, the master's copy of it is stale now.
            ec_siicache_drop(kFirstSlave);
            if (written == kEepromDone) {
                Log(FormatText("--- Slave[%d] EEPROM  Write End ---\r\n\r\n", kFirstSlave));
            } else {
                LogTransferFailure("Write", failedAt);
            }
        }
    }
    g_eepromRequest = 0;
}

void InstallEepromImageJobs() {
    InstallEepromJobs(EepromReadToFile, EepromWriteFromFile);
}

void ResetEepromImageState() {
    g_eepromImage.fill(0);
    writeFileCoverage.reset();
}
