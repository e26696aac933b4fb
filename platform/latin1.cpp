#include "platform/latin1.hpp"

#include "platform/debug_log.hpp"

namespace {
// The error codes of a cut text and of a text that has no bytes.
constexpr int kCutCode = 80;
constexpr int kNotConvertibleCode = 42;
}  // namespace

int CStringToMultiByte(char* dest, size_t destSize, std::wstring_view text) {
    if (dest == nullptr || destSize == 0) return -kNotConvertibleCode;
    const size_t end = text.find(L'\0');
    if (end != std::wstring_view::npos) text = text.substr(0, end);
    const bool cut = text.size() > destSize - 1;
    const std::wstring_view fitting = cut ? text.substr(0, destSize - 1) : text;
    for (const wchar_t unit : fitting) {
        if (static_cast<unsigned long>(unit) > 0xFF) {
            dest[0] = '\0';
            DebugLog("wcstombs_s error!! ret=%d", kNotConvertibleCode);
            return -kNotConvertibleCode;
        }
    }
    size_t n = 0;
    for (const wchar_t unit : fitting)
        dest[n++] = static_cast<char>(static_cast<unsigned char>(unit));
    dest[n] = '\0';
    if (cut) {
        DebugLog("wcstombs_s error!! ret=%d", kCutCode);
        return -kCutCode;
    }
    DebugLog("wcstombs_s return value:%d", static_cast<int>(n + 1));
    return static_cast<int>(n + 1);
}

std::wstring Latin1ToWide(std::string_view bytes) {
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char byte : bytes)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return wide;
}
