#include "bus/bridge_board.hpp"

#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"

bool MotorKindOf(int32_t model, int channel, MotorKind* kind) {
    switch (model) {
        case kModelZr01:
            *kind = MotorKind::A;
            return true;
        case kModelZr02:
            *kind = MotorKind::B;
            return true;
        case kModelZr12:
            *kind = channel <= 2 ? MotorKind::A : MotorKind::B;
            return true;
        default:
            return false;
    }
}

void WriteUnlockWord(int slave) {
    SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardCommand, kUnlockWordSubindex, kUnlockWord);
}
