#include "tools/board_identity.hpp"

#include <string>

#include "bus/bridge_board.hpp"
#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "platform/latin1.hpp"
#include "tools/field_number.hpp"

std::atomic<int32_t> g_boardInitSlave{1};

namespace {

constexpr size_t kSerialMinChars = 3;
constexpr size_t kSerialMaxChars = 30;

// The serial number at the start of the text; false for a text of the wrong
// length, without a leading number, or with one beyond 32 bits.
bool ReadSerialNumber(std::wstring_view text, int32_t* number) {
    if (text.size() < kSerialMinChars || text.size() > kSerialMaxChars) return false;
    return ReadDecimalField(text, number);
}

}  // namespace

std::wstring SetBoardIdentity(int slave, std::wstring_view serialText, int typeIndex) {
    g_boardInitSlave = slave;
    if (BridgeOrdinalOfSlave(slave) < 0) return {};
    int32_t serial = 0;
    if (!ReadSerialNumber(serialText, &serial)) return L"Board No Set  Data Error!";
    const int32_t type = typeIndex + 1;
    MotorKind kinds[kMotorsPerBridge];
    for (int channel = 1; channel <= kMotorsPerBridge; ++channel) {
        if (!MotorKindOf(type, channel, &kinds[channel - 1])) return L"Init Error 001!!!";
    }

    const auto device = static_cast<uint16_t>(slave);
    WriteUnlockWord(device);
    PauseMs(10);
    SdoWriteInt32(device, ObjBoardPara, kBoardNoSubindex, serial);
    PauseMs(10);
    SdoWriteInt32(device, ObjBoardPara, kBoardTypeSubindex, type);
    PauseMs(10);
    for (int channel = 1; channel <= kMotorsPerBridge; ++channel) {
        SdoWriteInt32(device, static_cast<uint16_t>(ObjUartChannel + channel), kMotorKindSubindex,
                      MotorKindCode(kinds[channel - 1]));
        PauseMs(10);
    }
    PauseMs(50);

    const std::string typeText =
        SdoShownText(SdoReadText(device, ObjBoardPara, kBoardTypeSubindex, kCoeInteger32));
    const std::string serialRead =
        SdoShownText(SdoReadText(device, ObjBoardPara, kBoardNoSubindex, kCoeInteger32));
    return Latin1ToWide("------ Set BoardInfo ----\r\nBoardBype : " + typeText +
                        "\r\nBoardNo : " + serialRead);
}

void ResetBoardIdentity() {
    g_boardInitSlave = 1;
}
