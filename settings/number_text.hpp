// Numbers typed into fields and read from files, as the program has always read
// them: leading blanks skipped, then digits up to the first character that does
// not fit ("1008h" is 0x1008). A text with no digit, or a number that does not fit
// 32 bits, is refused rather than read as some value.
#pragma once

#include <cstdint>
#include <string_view>

// Decimal ("%d"): an optional sign, then decimal digits.
bool ReadLeadingInteger(std::string_view text, int32_t* value);

// Hexadecimal ("%X"): an optional "0x" or "0X", then hexadecimal digits of either
// case. A sign is refused: a negative hexadecimal address or value is a typing
// error, not a large number.
bool ReadLeadingHex(std::string_view text, uint32_t* value);
