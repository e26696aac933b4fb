// The parser of the motors' parameter answers ("K16.1=4").
#pragma once

#include <cstdint>
#include <limits>

// Stored as the value of an answer whose text after '=' holds no number, so that
// a garbled answer never passes for an expected value.
inline constexpr int32_t kTqlNoValue = std::numeric_limits<int32_t>::min();

// Reads `text` (NUL-terminated bytes) as "K<n>.<id>=<value>" with a one- or
// two-digit parameter number. Results: 1 parsed (outputs written), 0 the text
// ended early or is empty, -1 no '.' after the parameter number, -2 motor ID
// outside 1 to 5, -3 no '=' after the ID, -4 the text does not start with 'K'.
// -5 '.' right after 'K'. A 'K' or 'k' anywhere starts the parse over.
int ParseTqlParameterReply(const char* text, int32_t* parameter, int32_t* value, int32_t* motorId);
