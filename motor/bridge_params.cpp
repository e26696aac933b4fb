#include "motor/bridge_params.hpp"

#include <cstdio>

#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"
#include "settings/access_level.hpp"
#include "settings/settings_file.hpp"

const BridgeParamField kBridgeParamFields[kParamCount] = {
    {"DravokMode", 1, 1, 4, L"DravokMode Data Error", false},
    {"EX_Fun", 2, 1, 3, L"IoEnable Data Error", false},
    {"MasterCode", 5, 1, 1, L"Master Mode Data Error", false},
    {"TQ ComCycle", 6, 1, 1, L"Tq1mSecFix Data Error", false},
    {"Option", 7, 1, 4, L"Opsition Data Error", false},
    {"DEBUGSet", 3, 1, 8, L"DebugSet Data Error", true},
};

namespace {

constexpr int kValueScanChars = 25;

// The read order differs from the write order; the bridge does not mind either.
constexpr BridgeParam kReadOrder[] = {kDravokMode, kExFun, kMasterCode, kOption, kTqComCycle};

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Leading blanks, an optional "0x", hexadecimal digits up to the first other
// character; false when no digit comes.
bool ReadLeadingHex(const std::string& text, uint32_t* value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x' &&
        IsHexDigit(text[i + 2])) {
        i += 2;
    }
    uint32_t v = 0;
    const size_t first = i;
    for (; i < text.size() && IsHexDigit(text[i]); ++i) {
        const char c = text[i];
        const uint32_t digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        v = (v << 4) | digit;
    }
    if (i == first) return false;
    *value = v;
    return true;
}

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

bool TakeParenthesisedValue(const std::string& reply, std::string* value) {
    if (!reply.empty() && reply[0] == 'N') return false;
    const std::string head = reply.substr(0, kValueScanChars);
    const size_t open = head.find('(');
    if (open == std::string::npos) return false;
    const size_t close = head.find(')', open + 1);
    if (close == std::string::npos) return false;
    *value = head.substr(open + 1, close - open - 1);
    return true;
}

void ReadBridgeParameters(int slave, BridgeParamTexts& texts) {
    if (BridgeModelOfSlave(slave) == kNotABridge) return;
    const auto read = [slave](BridgeParam param, std::string* value) {
        const std::string reply = SdoReadAsText(static_cast<uint16_t>(slave), kObjBridgeParams,
                                                kBridgeParamFields[param].subindex, kCoeInteger32);
        return TakeParenthesisedValue(reply, value);
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

bool WriteBridgeParameters(int slave, const BridgeParamTexts& texts) {
    if (BridgeModelOfSlave(slave) == kNotABridge) return false;
    const int fields = DebugSetInUse() ? kParamCount : kDebugSet;
    int32_t values[kParamCount] = {};
    for (int i = 0; i < fields; ++i) {
        const BridgeParamField& field = kBridgeParamFields[i];
        const auto length = static_cast<int>(texts[i].size());
        // A text without a number would otherwise go to the bridge as 0.
        if (length < field.minChars || length > field.maxChars ||
            !FieldValue(field, texts[i], &values[i])) {
            ShowMessageBox(field.message);
            return false;
        }
    }
    OpenConfigWindow(slave);
    PauseMs(10);
    for (int i = 0; i < kDebugSet; ++i) {
        SdoWriteInt32(static_cast<uint16_t>(slave), kObjBridgeParams,
                      kBridgeParamFields[i].subindex, values[i]);
        PauseMs(10);
    }
    if (fields > kDebugSet) {
        SdoWriteInt32(static_cast<uint16_t>(slave), kObjBridgeParams,
                      kBridgeParamFields[kDebugSet].subindex, values[kDebugSet]);
    }
    PauseMs(50);
    CloseConfigWindow(slave);
    PauseMs(10);
    return true;
}
