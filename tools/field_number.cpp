#include "tools/field_number.hpp"

#include "platform/latin1.hpp"
#include "settings/number_text.hpp"

namespace {

// Fields go through a conversion buffer of this size; a text cut to fit it is
// refused, not read in part.
constexpr size_t kFieldBytes = 128;

}  // namespace

bool ReadDecimalField(std::wstring_view text, int32_t* value) {
    char bytes[kFieldBytes];
    return CStringToMultiByte(bytes, sizeof bytes, text) >= 0 && ReadLeadingInteger(bytes, value);
}

bool ReadHexField(std::wstring_view text, uint32_t* value) {
    char bytes[kFieldBytes];
    return CStringToMultiByte(bytes, sizeof bytes, text) >= 0 && ReadLeadingHex(bytes, value);
}
