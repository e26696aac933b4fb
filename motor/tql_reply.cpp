#include "motor/tql_reply.hpp"

namespace {

// A digit character counts by its low four bits; the motors send only digits
// there, and the answer is judged by the values that come out.
int32_t DigitValue(char c) {
    return static_cast<unsigned char>(c) & 0x0F;
}

// Optional sign and decimal digits, saturated to the 32-bit range.
int32_t ReadDecimal(const char* p) {
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return kTqlNoValue;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= int64_t{1} << 32) magnitude = magnitude * 10 + (*p - '0');
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

int ParseTqlParameterReply(const char* text, int32_t* parameter, int32_t* value, int32_t* motorId) {
    if (text == nullptr) return 0;
    int state = 0;
    int32_t number = 0;
    int32_t id = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (c == 'K' || c == 'k') {
            state = 1;
            continue;
        }
        switch (state) {
            case 0:
                return -4;
            case 1:
                if (c == '.') return -5;
                number = DigitValue(c);
                state = 2;
                break;
            case 2:
                if (c == '.') {
                    state = 3;
                    --p;  // the '.' is looked at again as the end of the number
                } else {
                    number = number * 10 + DigitValue(c);
                    state = 3;
                }
                break;
            case 3:
                if (c != '.') return -1;
                state = 4;
                break;
            case 4:
                id = DigitValue(c);
                if (id < 1 || id > 5) return -2;
                state = 5;
                break;
            case 5:
                if (c != '=') return -3;
                state = 6;
                break;
            default:  // 6: the first character after '='
                *parameter = number;
                *value = ReadDecimal(p);
                *motorId = id;
                return 1;
        }
    }
    return 0;
}
