// The bridge's own operating parameters, the 32-bit subindexes of object 0xF540:
// read into text fields and written back inside the configuration window.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// In the order in which they are checked and written.
enum BridgeParam { kDravokMode, kExFun, kMasterCode, kTqComCycle, kOption, kDebugSet, kParamCount };

struct BridgeParamField {
    const char* label;
    uint8_t subindex;
    int minChars;
    int maxChars;
    const wchar_t* message;  // shown when the text's length is out of range
    bool hex;                // DEBUGSet is hexadecimal, the others decimal
};
extern const BridgeParamField kBridgeParamFields[kParamCount];

using BridgeParamTexts = std::array<std::wstring, kParamCount>;

// DEBUGSet is read and written only at the service and maker levels.
bool DebugSetInUse();

// Reads the parameters of `slave` into `texts` as decimal text (DEBUGSet as
// "%03x"). A slave that is not a bridge, or a read without a value in
// parentheses, leaves the fields as they are.
void ReadBridgeParameters(int slave, BridgeParamTexts& texts);

struct BridgeParamWrite {
    bool written = false;
    std::wstring message;  // what to tell the user; empty: nothing
};

// Checks every field and writes all of them inside the configuration window. A
// field of bad length, or one that does not begin with a number, gives its
// message and nothing is written. A slave that is not a bridge is ignored,
// without a message.
BridgeParamWrite WriteBridgeParameters(int slave, const BridgeParamTexts& texts);
