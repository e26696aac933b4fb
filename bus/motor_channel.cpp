// The bridges' motor text channel: TQL lines out, replies in, the channels'
// serial speed, and the online check that ends a scan.
#include <cstring>
#include <string>

#include "bus/bus_stop.hpp"
#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"

namespace {

constexpr size_t kMinTqlLine = 2;
constexpr size_t kMaxTqlLine = 60;

bool IsMotorNumber(int motor) {
    return motor >= 1 && motor <= kMotorsPerBridge;
}

// Two queries "?99.1", each followed by up to two reads, until one reads "Ux".
bool MotorAnswersOnlineQuery(uint16_t slave, int motor) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        WriteMotorCommand(slave, motor, "?99.1");
        BusSleep(10);
        for (int read = 0; read < 2; ++read) {
            if (ReadMotorResponse(slave, motor).starts_with("Ux")) return true;
            BusSleep(2);
        }
    }
    return false;
}

std::string OnlineLine(int bridge) {
    std::string line;
    const int slave = g_bridgeSlave[bridge].load();
    for (int m = 1; m <= kMotorsPerBridge; ++m) {
        const bool online = g_motorOnline[MotorSlot(bridge, m)].load() == 1;
        const bool last = m == kMotorsPerBridge;
        const char* format = online ? (last ? "TQ[%d.%d]=ONline" : "TQ[%d.%d]=ONline ; ")
                                    : (last ? "TQ[%d.%d]=OFFline" : "TQ[%d.%d]=OFFline; ");
        line += FormatText<64>(format, slave, m);
    }
    return line + "\r\n";
}

}  // namespace

std::string ReadMotorResponse(uint16_t slave, int motor) {
    return SdoReadAsText(slave, static_cast<uint16_t>(ObjMotorResponse + motor), 0,
                         kCoeVisibleString);
}

std::string WriteMotorCommand(uint16_t slave, int motor, std::string_view line) {
    return SdoWriteBytes(slave, static_cast<uint16_t>(ObjMotorCommand + motor), 0,
                         static_cast<uint16_t>(line.size()), line.data());
}

int SendTqlLine(int slave, int motor, const char* line) {
    if (BridgeOrdinalOfSlave(slave) < 0) return -1;
    if (!IsMotorNumber(motor)) return -2;
    const size_t length = line != nullptr ? strnlen(line, kMaxTqlLine + 1) : 0;
    if (length < kMinTqlLine || length > kMaxTqlLine) return -3;
    WriteMotorCommand(static_cast<uint16_t>(slave), motor, std::string_view(line, length));
    return 0;
}

int SetBridgeUartSpeed(int slave, int motor, uint32_t speedCode) {
    if (BridgeOrdinalOfSlave(slave) < 0) return -1;
    if (!IsMotorNumber(motor)) return -2;
    SdoWriteInt32(static_cast<uint16_t>(slave), static_cast<uint16_t>(ObjUartChannel + motor),
                  kUartSpeedSubindex, static_cast<int32_t>(speedCode));
    return 0;
}

void CheckMotorsOnline() {
    const int count = QueriedBridgeCount();
    DrainMotorReplies();
    for (int b = 0; b < count && !BusThreadsStopping(); ++b) {
        BusSleep(20);
        for (int m = 1; m <= kMotorsPerBridge; ++m) {
            if (MotorAnswersOnlineQuery(SlaveOfBridge(b), m)) g_motorOnline[MotorSlot(b, m)] = 1;
        }
    }
    std::string block;
    for (int b = 0; b < count; ++b) block += OnlineLine(b);
    if (!block.empty()) g_strScanLog.appendBytes(block);
}
