#include "tools/coe_access.hpp"

#include <optional>
#include <utility>

#include "bus/sdo_text.hpp"
#include "platform/latin1.hpp"
#include "tools/field_number.hpp"

std::atomic<int32_t> g_catToolsListsFilled{0};

void ResetCatToolsState() {
    g_catToolsListsFilled = 0;
}

namespace {

// The write and the read word their refusals differently.
struct CoeMessages {
    const wchar_t* slave;
    const wchar_t* index;
    const wchar_t* subindex;
};
constexpr CoeMessages kWriteMessages{L"Board Select Error!", L"COE Write Index Data Error!",
                                     L"COE Write Sub Index Data Error!"};
constexpr CoeMessages kReadMessages{L"COE Read Board Select Error!", L"COE Read Index Data Error!",
                                    L"COE Read SubIndex Data Error!"};
constexpr wchar_t kWriteTypeError[] = L"COE Write Type Error \r\nCOE WRITE : 4Byte and String";
constexpr wchar_t kNumberDataError[] = L"COE Write Data Error!";
constexpr wchar_t kStringDataError[] = L"COE Write CoeWrite Data Error!";

constexpr size_t kMinIndexChars = 3;
constexpr uint32_t kMaxIndex = 0xFFFF;
constexpr uint32_t kMaxSubindex = 0xFF;

struct CoeObject {
    uint16_t slave = 0;
    uint16_t index = 0;
    uint8_t subindex = 0;
};

bool ReadHexFieldUpTo(const std::wstring& text, uint32_t max, uint32_t* value) {
    return ReadHexField(text, value) && *value <= max;
}

// Index: at least three characters holding a hexadecimal number up to 0xFFFF;
// subindex: not empty, up to 0xFF. Returns the refusal, or the empty text.
std::wstring TakeAddress(const CoeFields& fields, const CoeMessages& messages, CoeObject* object) {
    uint32_t value = 0;
    if (fields.index.size() < kMinIndexChars ||
        !ReadHexFieldUpTo(fields.index, kMaxIndex, &value)) {
        return messages.index;
    }
    object->index = static_cast<uint16_t>(value);
    if (fields.subindex.empty() || !ReadHexFieldUpTo(fields.subindex, kMaxSubindex, &value)) {
        return messages.subindex;
    }
    object->subindex = static_cast<uint8_t>(value);
    return {};
}

// A refusal of the fields: nothing was sent.
CoeOutcome Refused(std::wstring message) {
    return {std::move(message), false, {}};
}

// The device was accessed: the result field shows `result`.
CoeOutcome Accessed(std::wstring result) {
    return {{}, true, std::move(result)};
}

uint16_t CoeTypeCode(int32_t dataType) {
    switch (dataType) {
        case kCoeTypeString:
            return kCoeVisibleString;
        case kCoeType2Byte:
            return kCoeInteger16;
        case kCoeType1Byte:
            return kCoeInteger8;
        default:
            return kCoeInteger32;
    }
}

}  // namespace

CoeOutcome CoeWrite(const CoeFields& fields, const CoeWindowRules& rules) {
    CoeObject object;
    if (!ReadSlaveSelection(fields.slaveIndex, &object.slave)) return Refused(kWriteMessages.slave);
    if (fields.dataType == kCoeType2Byte || fields.dataType == kCoeType1Byte) {
        return Refused(rules.refuseNarrowWrite ? kWriteTypeError : L"");
    }
    if (std::wstring refusal = TakeAddress(fields, kWriteMessages, &object); !refusal.empty()) {
        return Refused(refusal);
    }
    std::string outcome;
    if (fields.dataType == kCoeTypeString) {
        const std::optional<std::string> data = FieldBytes(fields.data);
        if (!data || data->empty()) return Refused(kStringDataError);
        outcome = SdoWriteBytes(object.slave, object.index, object.subindex,
                                static_cast<uint16_t>(data->size()), data->data());
    } else {
        int32_t value = 0;
        if (!ReadDecimalField(fields.data, &value)) return Refused(kNumberDataError);
        outcome = SdoWriteInt32(object.slave, object.index, object.subindex, value);
    }
    return Accessed(Latin1ToWide(outcome));
}

CoeOutcome CoeRead(const CoeFields& fields, const CoeWindowRules& rules) {
    CoeObject object;
    if (!ReadSlaveSelection(fields.slaveIndex, &object.slave)) return Refused(kReadMessages.slave);
    if (std::wstring refusal = TakeAddress(fields, kReadMessages, &object); !refusal.empty()) {
        return Refused(refusal);
    }
    const SdoText read =
        SdoReadText(object.slave, object.index, object.subindex, CoeTypeCode(fields.dataType));
    if (!read.uploaded && rules.markFailedRead) return Accessed(kCoeReadFailedText);
    return Accessed(Latin1ToWide(SdoShownText(read)));
}
