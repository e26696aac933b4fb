#include "motor/bridge_params.hpp"

#include <cstdio>

#include "bus/bridge_board.hpp"
#include "bus/bus_stop.hpp"
#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "platform/latin1.hpp"
#include "settings/access_level.hpp"
#include "settings/number_text.hpp"

const BridgeParamField kBridgeParamFields[kParamCount] = {
    {"DravokMode", 1, 1, 4, L"DravokMode Data Error", false},
    {"EX_Fun", 2, 1, 3, L"IoEnable Data Error", false},
    {"MasterCode", 5, 1, 1, L"Master Mode Data Error", false},
    {"TQ ComCycle", 6, 1, 1, L"Tq1mSecFix Data Error", false},
    {"Option", 7, 1, 4, L"Opsition Data Error", false},
    {"DEBUGSet", 3, 1, 8, L"DebugSet Data Error", true},
};

namespace {

// The read order differs from the write order; the bridge does not mind either.
constexpr BridgeParam kReadOrder[] = {kDravokMode, kExFun, kMasterCode, kOption, kTqComCycle};

// The field's value as the bridge takes it; false when its text has no number.
bool FieldValue(const BridgeParamField& field, const std::wstring& text, int32_t* value) {
    char bytes[2 * 8 + 2];  // the longest field, 8 characters, twice as CStringToMultiByte asks
    CStringToMultiByte(bytes, 2 * text.size(), text);
    if (!field.hex) return ReadLeadingInteger(bytes, value);
    uint32_t hex = 0;
    if (!ReadLeadingHex(bytes, &hex)) return false;
    *value = static_cast<int32_t>(hex);
    return true;
}

}  // namespace

bool DebugSetInUse() {
    return IsServiceOrMakerLevel();
}

void ReadBridgeParameters(int slave, BridgeParamTexts& texts) {
    if (BridgeModelOfSlave(slave) == kNotABridge) return;
    // A read that uploaded nothing leaves its field as it was: the zeros of
    // its empty buffer are no value of the bridge (and "Set(Write)" would
    // send them).
    const auto read = [slave](BridgeParam param, std::string* value) {
        const SdoText reply = SdoReadText(static_cast<uint16_t>(slave), ObjBoardPara,
                                          kBridgeParamFields[param].subindex, kCoeInteger32);
        return reply.uploaded && TakeParenthesisedValue(reply.text, value);
    };
    std::string value;
    for (const BridgeParam param : kReadOrder) {
        if (read(param, &value)) texts[param] = Latin1ToWide(value);
    }
    if (DebugSetInUse() && read(kDebugSet, &value)) {
        int32_t number = 0;
        ReadLeadingInteger(value, &number);
        char hex[16];
        std::snprintf(hex, sizeof hex, "%03x", static_cast<unsigned>(number));
        texts[kDebugSet] = Latin1ToWide(hex);
    }
}

BridgeParamWrite WriteBridgeParameters(int slave, const BridgeParamTexts& texts) {
    if (BridgeModelOfSlave(slave) == kNotABridge) return {};
    const int fields = DebugSetInUse() ? kParamCount : kDebugSet;
    int32_t values[kParamCount] = {};
    for (int i = 0; i < fields; ++i) {
        const BridgeParamField& field = kBridgeParamFields[i];
        const auto length = static_cast<int>(texts[i].size());
        // A text without a number would otherwise go to the bridge as 0.
        if (length < field.minChars || length > field.maxChars ||
            !FieldValue(field, texts[i], &values[i])) {
            return {.written = false, .message = field.message};
        }
    }
    OpenConfigWindow(slave);
    PauseMs(10);
    for (int i = 0; i < kDebugSet; ++i) {
        SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardPara, kBridgeParamFields[i].subindex,
                      values[i]);
        PauseMs(10);
    }
    if (fields > kDebugSet) {
        SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardPara,
                      kBridgeParamFields[kDebugSet].subindex, values[kDebugSet]);
    }
    PauseMs(50);
    CloseConfigWindow(slave);
    PauseMs(10);
    return {.written = true, .message = {}};
}
