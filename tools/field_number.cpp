#include "tools/field_number.hpp"

#include "bus/globals.hpp"
#include "platform/latin1.hpp"
#include "settings/number_text.hpp"

namespace {

constexpr size_t kFieldBytes = 256;

}  // namespace

std::optional<std::string> FieldBytes(std::wstring_view text) {
    if (text.size() >= kFieldBytes) return std::nullopt;
    char bytes[kFieldBytes];
    if (CStringToMultiByte(bytes, sizeof bytes, text) < 0) return std::nullopt;
    return std::string(bytes);
}

bool ReadDecimalField(std::wstring_view text, int32_t* value) {
    const std::optional<std::string> bytes = FieldBytes(text);
    return bytes && ReadLeadingInteger(*bytes, value);
}

bool ReadHexField(std::wstring_view text, uint32_t* value) {
    const std::optional<std::string> bytes = FieldBytes(text);
    return bytes && ReadLeadingHex(*bytes, value);
}

bool ReadSlaveSelection(int listIndex, uint16_t* slave) {
    const int number = listIndex + 1;
    if (number < 1 || number > g_slavesFound.load()) return false;
    *slave = static_cast<uint16_t>(number);
    return true;
}
