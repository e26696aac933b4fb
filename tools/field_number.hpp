// Numbers typed into the device tools' fields: the field's text as device bytes,
// read as the program reads numbers ("%d" or "%X"). A text with a character the
// devices cannot take, one too long for the field buffer, or one without a
// number, gives none.
#pragma once

#include <cstdint>
#include <string_view>

bool ReadDecimalField(std::wstring_view text, int32_t* value);
bool ReadHexField(std::wstring_view text, uint32_t* value);
